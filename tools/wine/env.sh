# Sourced by the Wine tools: a 32-bit prefix unless the caller asks for a
# 64-bit one (WINEARCH=win64), no Mono or Gecko installer, and no debugger
# that would wait on a crash. Quiet unless the caller asks.
export WINEARCH=${WINEARCH:-win32}
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
export WINEDEBUG=${WINEDEBUG:--all}

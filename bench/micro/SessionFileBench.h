#pragma once

// ReadSessionId on the largest legal session file and on a typical one, each
// side by side with reading the same bytes through the same sequence of
// plain ReadFile calls into a buffer that already exists: time per call,
// then peak private bytes above the idle process.
void RunSessionFileBench(int rounds);

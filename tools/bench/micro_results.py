"""The JSON lines MicroBench prints (bench/micro/Output.h), and the medians
and ratios the report takes from them."""

import collections
import json
import statistics


class MicroResults:
    def __init__(self):
        # (item, side, key) -> {round: value}
        self._values = collections.defaultdict(dict)

    def add(self, text):
        for line in text.splitlines():
            if line.strip():
                row = json.loads(line)
                self._values[(row["item"], row["side"], row["key"])][row["round"]] = row["value"]

    def _series(self, item, side, key):
        series = self._values.get((item, side, key))
        if not series:
            raise KeyError("MicroBench reported no %s for %s / %s" % (key, item, side))
        return series

    def value(self, item, side, key):
        return self._series(item, side, key)[0]

    def runs(self, item, key, side="ReadSessionId"):
        return len(self._series(item, side, key))

    def median(self, item, side, key="seconds_per_call"):
        return statistics.median(self._series(item, side, key).values())

    def ratio(self, item, side, reference, key="seconds_per_call"):
        """Median over rounds of side / reference, both timed in the same round."""
        ours, theirs = self._series(item, side, key), self._series(item, reference, key)
        return statistics.median(ours[r] / theirs[r] for r in ours if r in theirs)

    def _peaks_above_idle(self, item):
        idle = self._series(item, "ReadSessionId", "idle_bytes")
        peak = self._series(item, "ReadSessionId", "peak_bytes")
        return [peak[r] - idle[r] for r in idle]

    def peak_above_idle(self, item):
        return max(self._peaks_above_idle(item))

    def median_peak_above_idle(self, item):
        return statistics.median(self._peaks_above_idle(item))

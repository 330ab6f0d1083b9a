"""The module starts no thread: the OS threads of the process are counted
while large texts go through every road (plain, annotated and round-trip
loads, loads_all, a directory of many included files, dumps, to_json).

Two kinds of samples: a polling thread of the test's own, which runs
whenever a call has released the interpreter lock (composing, decoding,
writing, freeing), and callbacks (`tag_handler`, `default`), which run in
the middle of a conversion while the lock is held."""

import os
import threading
import time

import pytest

import kestrine

pytestmark = pytest.mark.skipif(not os.path.isdir("/proc/self/task"), reason="needs /proc/self/task")

ANN = kestrine.OPT_ANNOTATED
RT = kestrine.OPT_ROUND_TRIP
INC = kestrine.OPT_INCLUDES


def os_threads():
    return len(os.listdir("/proc/self/task"))


class ThreadWatch:
    """Counts the process's OS threads until closed; `sample()` adds a count
    taken by the caller (from a callback)."""

    def __init__(self):
        self.baseline = os_threads()
        self.counts = []
        self.stop = threading.Event()
        self.poller = threading.Thread(target=self._poll, daemon=True)
        self.poller.start()

    def _poll(self):
        while not self.stop.is_set():
            self.counts.append(os_threads())

    def sample(self):
        self.counts.append(os_threads())

    def close(self):
        self.stop.set()
        self.poller.join()
        # The poller's OS thread may outlive join() for a moment: gone before
        # the next baseline is taken.
        for _ in range(1000):
            if os_threads() <= self.baseline:
                break
            time.sleep(0.001)
        return max(self.counts, default=self.baseline + 1) - (self.baseline + 1)  # less the poller


class Custom:
    def __init__(self, n):
        self.n = n


def service(i):
    return (f"svc{i}:\n"
            f"  image: registry.example.com/team/app-{i}:1.{i % 50}\n"
            f"  tag: !custom v{i}\n"
            f"  ports: [80, {8000 + i % 1000}]\n"
            f"  env:\n    - NAME_{i}=value {i}\n    - MODE=fast\n"
            f"  limits: {{cpu: {i % 8}, memory: {i % 64}Gi}}\n")


# About 2.5 MB: past every size at which a helper thread used to start.
BIG = "".join(service(i) for i in range(16000))
STREAM = BIG + "---\n" + BIG[: len(BIG) // 4]


@pytest.fixture(scope="module")
def conf_dir(tmp_path_factory):
    root = tmp_path_factory.mktemp("many")
    for f in range(300):
        path = root / "conf" / f"f{f:03d}.yaml"
        path.parent.mkdir(exist_ok=True)
        path.write_text("".join(service(f * 30 + i) for i in range(30)))
    return str(root)


def road_table(conf_dir):
    """name -> call; the calls sample the current watch from their callbacks."""
    current = {}
    calls = [0]

    def tag_handler(tag, value):
        calls[0] += 1
        if calls[0] % 200 == 0:
            current["watch"].sample()
        return value

    def default(obj):
        if obj.n % 200 == 0:
            current["watch"].sample()
        return obj.n

    top = "services: !include_dir_merge_named conf\n"
    inc = {"include_dir": conf_dir}
    data = kestrine.loads(BIG)
    for i, value in enumerate(data.values()):
        value["obj"] = Custom(i)
    table = {
        "plain loads": lambda: kestrine.loads(BIG, tag_handler=tag_handler),
        "plain loads_all": lambda: kestrine.loads_all(STREAM, tag_handler=tag_handler),
        "annotated loads": lambda: kestrine.loads(BIG, option=ANN, tag_handler=tag_handler),
        "annotated loads_all": lambda: kestrine.loads_all(STREAM, option=ANN, tag_handler=tag_handler),
        "round-trip loads": lambda: kestrine.loads(BIG, option=RT).to_dict(),
        "round-trip loads_all": lambda: [d.to_dict() for d in kestrine.loads_all(STREAM, option=RT)],
        "includes plain": lambda: kestrine.loads(top, option=INC, tag_handler=tag_handler, **inc),
        "includes annotated": lambda: kestrine.loads(top, option=INC | ANN, tag_handler=tag_handler, **inc),
        "includes round-trip": lambda: kestrine.loads(top, option=INC | RT, **inc).to_dict(),
        "dumps": lambda: kestrine.dumps(data, default=default),
        "dumps document": lambda: kestrine.dumps(kestrine.loads(BIG, option=RT)),
        "to_json": lambda: kestrine.to_json(data, default=default),
        "to_json sorted": lambda: kestrine.to_json(data, default=default, option=kestrine.OPT_SORT_KEYS),
    }
    return table, current


def test_no_thread_is_started_on_any_road(conf_dir):
    table, current = road_table(conf_dir)
    started = {}
    for name, call in table.items():
        watch = current["watch"] = ThreadWatch()
        try:
            result = call()
            del result  # freeing the native trees is part of the road
        finally:
            started[name] = watch.close()
    assert started == dict.fromkeys(table, 0)

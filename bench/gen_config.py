#!/usr/bin/env python3
"""Write a deterministic, configuration-like YAML file for benchmarks.

usage: gen_config.py PATH [MB]        (MB defaults to 20)

The file is a stream of service definitions: nested mappings, sequences of
mappings, plain and quoted strings, integers, floats, booleans, nulls,
comments, flow collections and literal/folded block scalars.  The same
arguments always give the same bytes, so timings can be compared across
runs and across the C++ and Python benchmarks.
"""

import random
import sys

WORDS = (
    "alpha beta gamma delta epsilon zeta eta theta iota kappa lambda mu nu xi "
    "omicron pi rho sigma tau upsilon phi chi psi omega api cache worker queue "
    "frontend backend gateway ingress storage metrics logging auth billing search "
    "router scheduler proxy database replica primary shard index stream batch"
).split()

REGIONS = ["eu-west-1", "us-east-1", "ap-south-1", "eu-central-1", "us-west-2"]


def word(rng):
    return rng.choice(WORDS)


def sentence(rng, lo=4, hi=12):
    return " ".join(word(rng) for _ in range(rng.randint(lo, hi)))


def service(rng, n):
    name = f"{word(rng)}-{word(rng)}-{n}"
    out = []
    w = out.append
    if rng.random() < 0.5:
        w(f"# {sentence(rng, 3, 8)}")
    w(f"{name}:")
    w(f"  enabled: {rng.choice(['true', 'false'])}")
    w(f"  replicas: {rng.randint(1, 64)}")
    w(f"  weight: {rng.random() * 100:.3f}")
    w(f"  region: {rng.choice(REGIONS)}")
    w(f'  description: "{sentence(rng)}"')
    w(f"  owner: '{word(rng)}@example.com'")
    w(f"  image: registry.example.com/{word(rng)}/{word(rng)}:{rng.randint(1, 9)}.{rng.randint(0, 30)}.{rng.randint(0, 99)}")
    w(f"  timeout: {rng.randint(100, 30000)}  # milliseconds")
    w(f"  fallback: {rng.choice(['null', '~', word(rng)])}")
    w(f"  tags: [{', '.join(word(rng) for _ in range(rng.randint(1, 5)))}]")
    w(f"  limits: {{cpu: {rng.randint(1, 16)}, memory: {rng.randint(128, 8192)}Mi}}")
    w("  env:")
    for _ in range(rng.randint(2, 6)):
        w(f"    {word(rng).upper()}_{word(rng).upper()}: {rng.choice([word(rng), str(rng.randint(0, 9999)), repr(sentence(rng, 1, 3))])}")
    w("  ports:")
    for _ in range(rng.randint(1, 4)):
        w(f"    - name: {word(rng)}")
        w(f"      port: {rng.randint(1024, 65535)}")
        w(f"      protocol: {rng.choice(['TCP', 'UDP'])}")
    w("  dependencies:")
    for _ in range(rng.randint(0, 4)):
        w(f"    - {word(rng)}-{word(rng)}")
    if rng.random() < 0.4:
        w("  script: |")
        for _ in range(rng.randint(2, 6)):
            w(f"    {word(rng)} --{word(rng)}={rng.randint(0, 99)} {sentence(rng, 1, 4)}")
    if rng.random() < 0.3:
        w("  notes: >")
        for _ in range(rng.randint(2, 4)):
            w(f"    {sentence(rng, 5, 12)}")
    w("  health:")
    w(f"    path: /{word(rng)}/{word(rng)}")
    w(f"    interval: {rng.randint(1, 60)}s")
    w(f"    threshold: {rng.randint(1, 10)}")
    return "\n".join(out) + "\n"


def main(argv):
    if len(argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    path = argv[1]
    megabytes = float(argv[2]) if len(argv) > 2 else 20.0
    target = int(megabytes * 1024 * 1024)
    rng = random.Random(20240607)
    size = 0
    n = 0
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        header = "# generated configuration-like benchmark input\nservices:\n"
        f.write(header)
        size += len(header)
        while size < target:
            block = "".join("  " + line + "\n" if line else "\n" for line in service(rng, n).splitlines())
            f.write(block)
            size += len(block.encode("utf-8"))
            n += 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

"""Schemas in the style of the public configuration-file schemas, and
documents that follow them, for bench_schema.py.

Each case is a schema written the way published schemas for configuration
files are written (draft-06/07 style: `definitions` reached through `$ref`,
`oneOf` between alternative shapes, `patternProperties` for user-named
entries, `enum`, `pattern`, `additionalProperties: false`, and descriptions
on most properties), with a generator of the small files such a schema
checks: a CI workflow, a container composition, a deployment manifest, an
API description with recursive schema objects, and a dependency-update
configuration.  Only keywords the validator evaluates decide anything;
`description`, `default`, `examples`, `format` and `title` are carried as the
published schemas carry them.

    for case in CASES:
        texts = case.documents(count=200, seed=1)   # YAML texts, all valid
"""

import random

import kestrine

from .api import API, api
from .compose import COMPOSE, compose
from .deployment import DEPLOYMENT, deployment
from .updates import UPDATES, updates
from .workflow import WORKFLOW, workflow


# ---- the cases ------------------------------------------------------------------------


class Case:
    def __init__(self, name, schema, make):
        self.name = name
        self.schema = schema
        self.make = make

    def data(self, count, seed):
        rng = random.Random(f"{self.name}-{seed}")
        return [self.make(rng) for _ in range(count)]

    def documents(self, count=200, seed=1):
        """YAML texts of `count` valid documents, block style, with the
        comment line that names the schema, as such files carry it."""
        head = f"# yaml-language-server: $schema=https://schemas.example.com/{self.name}.json\n"
        return [(head + kestrine.dumps(d).decode()).encode() for d in self.data(count, seed)]


CASES = [
    Case("ci-workflow", WORKFLOW, workflow),
    Case("compose", COMPOSE, compose),
    Case("deployment", DEPLOYMENT, deployment),
    Case("api-description", API, api),
    Case("dependency-updates", UPDATES, updates),
]

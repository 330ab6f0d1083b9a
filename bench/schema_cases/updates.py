"""The updates case: its schema and a generator of documents that follow it."""

from .common import DRAFT, ref, described, STRING_LIST, UNIQUE_STRINGS, WORDS, pick

# ---- a dependency-update configuration -------------------------------------------------

ECOSYSTEMS = ["bundler", "cargo", "composer", "docker", "elm", "gitsubmodule", "github-actions", "gomod",
              "gradle", "maven", "mix", "npm", "nuget", "pip", "pub", "swift", "terraform"]
UPDATE_TYPES = ["version-update:semver-major", "version-update:semver-minor", "version-update:semver-patch"]

UPDATES = {
    "$schema": DRAFT,
    "title": "Dependency update configuration",
    "type": "object",
    "required": ["version", "updates"],
    "additionalProperties": False,
    "properties": {
        "version": {"const": 2},
        "enable-beta-ecosystems": {"type": "boolean"},
        "registries": {"type": "object", "patternProperties": {"^[a-z0-9-]+$": {
            "type": "object", "required": ["type"], "properties": {
                "type": {"enum": ["npm-registry", "docker-registry", "maven-repository", "python-index"]},
                "url": {"type": "string", "pattern": "^https?://"},
                "username": {"type": "string"}, "password": {"type": "string"}}}}},
        "updates": {"type": "array", "minItems": 1, "items": ref("update")},
    },
    "definitions": {
        "dependency": {"type": "object", "additionalProperties": False, "properties": {
            "dependency-name": {"type": "string"},
            "dependency-type": {"enum": ["direct", "indirect", "all", "production", "development"]},
            "versions": {"oneOf": [{"type": "string"}, STRING_LIST]},
            "update-types": {"type": "array", "items": {"enum": UPDATE_TYPES}, "uniqueItems": True}}},
        "schedule": {
            "type": "object",
            "required": ["interval"],
            "additionalProperties": False,
            "properties": {
                "interval": {"enum": ["daily", "weekly", "monthly"]},
                "day": {"enum": ["monday", "tuesday", "wednesday", "thursday", "friday", "saturday", "sunday"]},
                "time": described("Time of day, hh:mm.", type="string", pattern="^([01][0-9]|2[0-3]):[0-5][0-9]$"),
                "timezone": {"type": "string"},
            },
        },
        "update": {
            "type": "object",
            "required": ["package-ecosystem", "directory", "schedule"],
            "additionalProperties": False,
            "properties": {
                "package-ecosystem": described("The package manager.", enum=ECOSYSTEMS),
                "directory": {"type": "string", "pattern": "^/"},
                "schedule": ref("schedule"),
                "allow": {"type": "array", "items": ref("dependency")},
                "ignore": {"type": "array", "items": ref("dependency")},
                "assignees": UNIQUE_STRINGS,
                "reviewers": UNIQUE_STRINGS,
                "labels": UNIQUE_STRINGS,
                "milestone": {"type": "integer", "minimum": 1},
                "open-pull-requests-limit": {"type": "integer", "minimum": 0},
                "rebase-strategy": {"enum": ["auto", "disabled"]},
                "target-branch": {"type": "string"},
                "versioning-strategy": {"enum": ["auto", "increase", "increase-if-necessary", "lockfile-only",
                                                 "widen"]},
                "commit-message": {"type": "object", "additionalProperties": False, "properties": {
                    "prefix": {"type": "string", "maxLength": 50},
                    "prefix-development": {"type": "string", "maxLength": 50},
                    "include": {"const": "scope"}}},
                "groups": {"type": "object", "additionalProperties": False, "patternProperties": {
                    "^[a-z0-9_-]+$": {"type": "object", "minProperties": 1, "properties": {
                        "patterns": {"type": "array", "items": {"type": "string"}, "minItems": 1},
                        "exclude-patterns": STRING_LIST,
                        "dependency-type": {"enum": ["development", "production"]},
                        "update-types": {"type": "array", "items": {"enum": ["major", "minor", "patch"]}}}}}},
                "registries": {"oneOf": [{"enum": ["*"]}, STRING_LIST]},
            },
        },
    },
}


def updates(rng):
    entries = []
    for eco in pick(rng, ECOSYSTEMS, rng.randint(1, 4)):
        u = {"package-ecosystem": eco, "directory": pick(rng, ["/", "/frontend", "/services/api"]),
             "schedule": {"interval": pick(rng, ["daily", "weekly", "monthly"])}}
        if rng.random() < 0.5:
            u["schedule"].update({"day": "monday", "time": f"{rng.randint(0, 23):02d}:{rng.randint(0, 59):02d}",
                                  "timezone": "Europe/Berlin"})
        if rng.random() < 0.5:
            u["ignore"] = [{"dependency-name": f"{pick(rng, WORDS)}*", "update-types": UPDATE_TYPES[:1]}]
        if rng.random() < 0.5:
            u["labels"] = ["dependencies", eco]
        if rng.random() < 0.4:
            u["groups"] = {"minor-and-patch": {"patterns": ["*"], "update-types": ["minor", "patch"]}}
        if rng.random() < 0.3:
            u["commit-message"] = {"prefix": "deps", "include": "scope"}
        u["open-pull-requests-limit"] = rng.randint(0, 10)
        entries.append(u)
    return {"version": 2, "updates": entries}

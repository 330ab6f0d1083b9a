"""The compose case: its schema and a generator of documents that follow it."""

from .common import DRAFT, ref, described, STRING_LIST, UNIQUE_STRINGS, WORDS, pick, ident

# ---- a container composition -----------------------------------------------------

LIST_OR_DICT = {
    "oneOf": [
        {"type": "object", "patternProperties": {".+": {"type": ["string", "number", "boolean", "null"]}},
         "additionalProperties": False},
        {"type": "array", "items": {"type": "string"}, "uniqueItems": True},
    ],
}

COMPOSE = {
    "$schema": DRAFT,
    "title": "Container composition",
    "type": "object",
    "required": ["services"],
    "properties": {
        "version": described("Ignored; kept for older files.", type="string"),
        "name": {"type": "string", "pattern": "^[a-z0-9][a-z0-9_-]*$"},
        "services": {
            "type": "object",
            "patternProperties": {r"^[a-zA-Z0-9._-]+$": ref("service")},
            "additionalProperties": False,
        },
        "networks": {"type": "object", "patternProperties": {r"^[a-zA-Z0-9._-]+$": {
            "oneOf": [{"type": "null"}, ref("network")]}}},
        "volumes": {"type": "object", "patternProperties": {r"^[a-zA-Z0-9._-]+$": {
            "oneOf": [{"type": "null"}, {"type": "object", "properties": {
                "driver": {"type": "string"}, "external": {"type": "boolean"}, "labels": LIST_OR_DICT}}]}}},
        "secrets": {"type": "object", "additionalProperties": {"type": "object", "properties": {
            "file": {"type": "string"}, "environment": {"type": "string"}, "external": {"type": "boolean"}}}},
    },
    "patternProperties": {"^x-": {}},
    "additionalProperties": False,
    "definitions": {
        "listOrDict": LIST_OR_DICT,
        "listOfStrings": UNIQUE_STRINGS,
        "stringOrList": {"oneOf": [{"type": "string"}, STRING_LIST]},
        "duration": {"type": "string", "pattern": r"^(\d+(\.\d+)?(us|ms|s|m|h))+$"},
        "network": {"type": "object", "properties": {
            "driver": {"type": "string"}, "external": {"type": "boolean"}, "internal": {"type": "boolean"},
            "labels": ref("listOrDict")}},
        "healthcheck": {
            "type": "object",
            "additionalProperties": False,
            "properties": {
                "test": ref("stringOrList"),
                "interval": ref("duration"),
                "timeout": ref("duration"),
                "start_period": ref("duration"),
                "retries": {"type": "integer", "minimum": 0},
                "disable": {"type": "boolean"},
            },
        },
        "resources": {"type": "object", "additionalProperties": False, "properties": {
            "cpus": {"type": ["number", "string"]},
            "memory": {"type": "string", "pattern": r"^\d+(\.\d+)?[kmgKMG]?[bB]?$"},
            "pids": {"type": "integer"}}},
        "deployment": {
            "type": "object",
            "additionalProperties": False,
            "properties": {
                "mode": {"enum": ["replicated", "global"]},
                "replicas": {"type": "integer", "minimum": 0},
                "resources": {"type": "object", "additionalProperties": False, "properties": {
                    "limits": ref("resources"), "reservations": ref("resources")}},
                "restart_policy": {"type": "object", "properties": {
                    "condition": {"enum": ["none", "on-failure", "any"]},
                    "delay": ref("duration"),
                    "max_attempts": {"type": "integer"}}},
                "placement": {"type": "object", "properties": {"constraints": STRING_LIST}},
                "labels": ref("listOrDict"),
            },
        },
        "port": {"oneOf": [
            {"type": "number"},
            {"type": "string", "pattern": r"^((\d+\.){3}\d+:)?(\d+(-\d+)?:)?\d+(-\d+)?(/(tcp|udp))?$"},
            {"type": "object", "required": ["target"], "properties": {
                "target": {"type": "integer"}, "published": {"type": ["integer", "string"]},
                "protocol": {"enum": ["tcp", "udp"]}, "mode": {"enum": ["host", "ingress"]}}},
        ]},
        "volumeMount": {"oneOf": [
            {"type": "string", "pattern": "^[^:]+:[^:]+(:(ro|rw|z|Z))?$"},
            {"type": "object", "required": ["type", "target"], "additionalProperties": False, "properties": {
                "type": {"enum": ["bind", "volume", "tmpfs", "npipe"]}, "source": {"type": "string"},
                "target": {"type": "string"}, "read_only": {"type": "boolean"}}},
        ]},
        "service": {
            "type": "object",
            "patternProperties": {"^x-": {}},
            "additionalProperties": False,
            "properties": {
                "image": described("The image to start the container from.", type="string"),
                "build": {"oneOf": [{"type": "string"}, {"type": "object", "properties": {
                    "context": {"type": "string"}, "dockerfile": {"type": "string"},
                    "args": ref("listOrDict"), "target": {"type": "string"}}}]},
                "command": ref("stringOrList"),
                "entrypoint": ref("stringOrList"),
                "container_name": {"type": "string", "pattern": "^[a-zA-Z0-9][a-zA-Z0-9_.-]+$"},
                "depends_on": {"oneOf": [
                    ref("listOfStrings"),
                    {"type": "object", "additionalProperties": False, "patternProperties": {
                        r"^[a-zA-Z0-9._-]+$": {"type": "object", "required": ["condition"],
                                                "additionalProperties": False, "properties": {
                                                    "condition": {"enum": ["service_started", "service_healthy",
                                                                           "service_completed_successfully"]},
                                                    "restart": {"type": "boolean"}}}}},
                ]},
                "environment": ref("listOrDict"),
                "env_file": ref("stringOrList"),
                "ports": {"type": "array", "items": ref("port"), "uniqueItems": True},
                "expose": {"type": "array", "items": {"type": ["string", "number"]}, "uniqueItems": True},
                "volumes": {"type": "array", "items": ref("volumeMount"), "uniqueItems": True},
                "restart": described("When to restart the container.",
                                     enum=["no", "always", "on-failure", "unless-stopped"]),
                "healthcheck": ref("healthcheck"),
                "deploy": ref("deployment"),
                "labels": ref("listOrDict"),
                "logging": {"type": "object", "properties": {
                    "driver": {"type": "string"}, "options": {"type": "object", "patternProperties": {
                        "^.+$": {"type": ["string", "number", "null"]}}}}},
                "networks": {"oneOf": [ref("listOfStrings"), {"type": "object", "patternProperties": {
                    r"^[a-zA-Z0-9._-]+$": {"oneOf": [{"type": "null"}, {"type": "object", "properties": {
                        "aliases": ref("listOfStrings")}}]}}}]},
                "user": {"type": "string"},
                "working_dir": {"type": "string"},
                "cap_add": {"type": "array", "items": {"type": "string"}, "uniqueItems": True},
                "cap_drop": {"type": "array", "items": {"type": "string"}, "uniqueItems": True},
                "privileged": {"type": "boolean"},
                "read_only": {"type": "boolean"},
                "stop_grace_period": ref("duration"),
            },
        },
    },
}


def compose(rng):
    services = {}
    names = []
    for _ in range(rng.randint(1, 6)):
        name = ident(rng)
        s = {"image": f"registry.example.com/{pick(rng, WORDS)}:{rng.randint(1, 9)}.{rng.randint(0, 20)}"}
        if rng.random() < 0.3:
            s["build"] = {"context": ".", "dockerfile": "Dockerfile", "args": {"VERSION": "1.2.3"}}
        if rng.random() < 0.7:
            s["ports"] = [f"{rng.randint(1024, 9999)}:{rng.randint(80, 9000)}" for _ in range(rng.randint(1, 3))]
        if rng.random() < 0.7:
            s["environment"] = pick(rng, [
                {f"{pick(rng, WORDS).upper()}_URL": f"http://{pick(rng, WORDS)}:8080",
                 "DEBUG": pick(rng, [True, False]), "WORKERS": rng.randint(1, 16)},
                [f"{pick(rng, WORDS).upper()}_{i}=on" for i in range(rng.randint(1, 4))],
            ])
        if rng.random() < 0.5:
            s["volumes"] = [f"./{pick(rng, WORDS)}:/srv/{pick(rng, WORDS)}:ro",
                            {"type": "volume", "source": "data", "target": "/var/lib/data"}]
        if names and rng.random() < 0.6:
            s["depends_on"] = pick(rng, [
                [pick(rng, names)],
                {pick(rng, names): {"condition": "service_healthy"}},
            ])
        s["restart"] = pick(rng, ["no", "always", "unless-stopped"])
        if rng.random() < 0.5:
            s["healthcheck"] = {"test": ["CMD", "curl", "-f", "http://localhost/health"],
                                "interval": "30s", "timeout": "5s", "retries": 3}
        if rng.random() < 0.4:
            s["deploy"] = {"replicas": rng.randint(1, 5), "resources": {
                "limits": {"cpus": "0.5", "memory": f"{rng.randint(64, 2048)}M"}}}
        if rng.random() < 0.3:
            s["labels"] = {f"com.example.{pick(rng, WORDS)}": pick(rng, WORDS)}
        services[name] = s
        names.append(name)
    doc = {"services": services}
    if rng.random() < 0.5:
        doc["volumes"] = {"data": None, "cache": {"driver": "local"}}
    if rng.random() < 0.4:
        doc["networks"] = {"front": None, "back": {"internal": True}}
    return doc

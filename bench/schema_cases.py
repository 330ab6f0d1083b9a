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

DRAFT = "http://json-schema.org/draft-07/schema#"


def ref(name):
    return {"$ref": f"#/definitions/{name}"}


def described(text, **schema):
    return {"description": text, **schema}


STRING_LIST = {"type": "array", "items": {"type": "string"}}
UNIQUE_STRINGS = {"type": "array", "items": {"type": "string"}, "uniqueItems": True}
EXPRESSION = {"type": "string", "pattern": r"^\$\{\{(.|[\r\n])*\}\}$"}

# ---- a CI workflow -------------------------------------------------------------

EVENTS = ["push", "pull_request", "pull_request_target", "release", "schedule", "workflow_dispatch",
          "workflow_call", "issues", "issue_comment", "create", "delete", "deployment", "fork", "gollum",
          "label", "merge_group", "milestone", "page_build", "public", "registry_package", "status",
          "watch", "workflow_run"]

WORKFLOW = {
    "$schema": DRAFT,
    "title": "CI workflow",
    "type": "object",
    "required": ["on", "jobs"],
    "additionalProperties": False,
    "properties": {
        "name": described("The name of the workflow, shown on the repository's actions page.", type="string"),
        "run-name": described("The name of the runs made from the workflow.", type="string"),
        "on": {
            "description": "The events that trigger the workflow.",
            "oneOf": [
                ref("event"),
                {"type": "array", "items": ref("event"), "minItems": 1, "uniqueItems": True},
                {
                    "type": "object",
                    "additionalProperties": False,
                    "properties": {
                        "push": ref("refFilter"),
                        "pull_request": ref("refFilter"),
                        "pull_request_target": ref("refFilter"),
                        "release": {"oneOf": [{"type": "null"}, {"type": "object", "properties": {
                            "types": {"type": "array", "items": {"enum": [
                                "published", "unpublished", "created", "edited", "deleted", "prereleased",
                                "released"]}}}}]},
                        "schedule": {
                            "type": "array",
                            "minItems": 1,
                            "items": {
                                "type": "object",
                                "required": ["cron"],
                                "additionalProperties": False,
                                "properties": {"cron": described(
                                    "A schedule in cron syntax.", type="string",
                                    pattern=r"^(\S+\s+){4}\S+$")},
                            },
                        },
                        "workflow_dispatch": {"oneOf": [{"type": "null"}, {"type": "object", "properties": {
                            "inputs": {"type": "object", "patternProperties": {
                                r"^[_a-zA-Z][a-zA-Z0-9_-]*$": ref("workflowInput")},
                                "additionalProperties": False}}}]},
                        "workflow_call": {"type": ["object", "null"]},
                        "issues": {"type": ["object", "null"]},
                        "workflow_run": {"type": ["object", "null"]},
                    },
                },
            ],
        },
        "env": ref("env"),
        "defaults": ref("defaults"),
        "concurrency": ref("concurrency"),
        "permissions": ref("permissions"),
        "jobs": {
            "description": "The jobs of the workflow, by identifier.",
            "type": "object",
            "minProperties": 1,
            "patternProperties": {r"^[_a-zA-Z][a-zA-Z0-9_-]*$": {
                "oneOf": [ref("normalJob"), ref("reusableWorkflowCallJob")]}},
            "additionalProperties": False,
        },
    },
    "definitions": {
        "event": {"type": "string", "enum": EVENTS},
        "globs": {"type": "array", "items": {"type": "string", "minLength": 1}, "minItems": 1},
        "refFilter": {
            "oneOf": [
                {"type": "null"},
                {
                    "type": "object",
                    "additionalProperties": False,
                    "properties": {
                        "branches": ref("globs"), "branches-ignore": ref("globs"), "tags": ref("globs"),
                        "tags-ignore": ref("globs"), "paths": ref("globs"), "paths-ignore": ref("globs"),
                        "types": {"type": "array", "items": {"type": "string"}},
                    },
                },
            ],
        },
        "workflowInput": {
            "type": "object",
            "required": ["description"],
            "properties": {
                "description": {"type": "string"},
                "required": {"type": "boolean"},
                "default": {"type": ["string", "boolean", "number"]},
                "type": {"enum": ["string", "choice", "boolean", "number", "environment"]},
                "options": {"type": "array", "items": {"type": "string"}, "minItems": 1},
            },
            "additionalProperties": False,
        },
        "env": described(
            "Variables for the steps, by name.",
            oneOf=[
                {"type": "object", "additionalProperties": {"type": ["string", "number", "boolean"]}},
                EXPRESSION,
            ]),
        "shell": {"anyOf": [{"type": "string"}, {"enum": ["bash", "pwsh", "python", "sh", "cmd", "powershell"]}]},
        "defaults": {
            "type": "object",
            "properties": {"run": {"type": "object", "properties": {
                "shell": ref("shell"), "working-directory": {"type": "string"}},
                "minProperties": 1, "additionalProperties": False}},
            "additionalProperties": False,
        },
        "permissionLevel": {"enum": ["read", "write", "none"]},
        "permissions": {
            "oneOf": [
                {"enum": ["read-all", "write-all"]},
                {
                    "type": "object",
                    "additionalProperties": False,
                    "properties": {scope: ref("permissionLevel") for scope in [
                        "actions", "checks", "contents", "deployments", "id-token", "issues",
                        "packages", "pages", "pull-requests", "security-events", "statuses"]},
                },
            ],
        },
        "concurrency": {
            "oneOf": [
                {"type": "string"},
                {"type": "object", "required": ["group"], "additionalProperties": False, "properties": {
                    "group": {"type": "string"}, "cancel-in-progress": {"oneOf": [{"type": "boolean"},
                                                                                  EXPRESSION]}}},
            ],
        },
        "name": {"type": "string", "pattern": r"^[_a-zA-Z][a-zA-Z0-9_-]*$"},
        "jobNeeds": {"oneOf": [{"type": "array", "items": ref("name"), "minItems": 1}, ref("name")]},
        "runsOn": described(
            "The kind of machine the job runs on.",
            oneOf=[
                {"type": "string"},
                {"type": "array", "items": {"type": "string"}, "minItems": 1},
                {"type": "object", "properties": {"group": {"type": "string"}, "labels": {
                    "oneOf": [{"type": "string"}, STRING_LIST]}}},
            ]),
        "container": {
            "type": "object",
            "required": ["image"],
            "additionalProperties": False,
            "properties": {
                "image": described("The image to run the job in.", type="string"),
                "credentials": {"type": "object", "properties": {
                    "username": {"type": "string"}, "password": {"type": "string"}}},
                "env": ref("env"),
                "ports": {"type": "array", "items": {"oneOf": [{"type": "number"}, {"type": "string"}]},
                          "minItems": 1},
                "volumes": {"type": "array", "items": {"type": "string"}, "minItems": 1},
                "options": {"type": "string"},
            },
        },
        "strategy": {
            "type": "object",
            "additionalProperties": False,
            "properties": {
                "matrix": {"oneOf": [{"type": "object", "patternProperties": {
                    r"^(in|ex)clude$": {"type": "array", "items": {"type": "object"}},
                    r"^[_a-zA-Z][a-zA-Z0-9_-]*$": {"oneOf": [{"type": "array", "minItems": 1}, EXPRESSION]}},
                    "minProperties": 1}, EXPRESSION]},
                "fail-fast": {"type": ["boolean", "string"]},
                "max-parallel": {"type": ["number", "string"]},
            },
        },
        "step": {
            "type": "object",
            "additionalProperties": False,
            "oneOf": [{"required": ["uses"]}, {"required": ["run"]}],
            "dependencies": {"working-directory": ["run"], "shell": ["run"]},
            "properties": {
                "id": {"type": "string"},
                "if": {"type": ["boolean", "number", "string"]},
                "name": {"type": "string"},
                "uses": described("An action to run: owner/repository@ref, a path or a container image.",
                                  type="string", pattern=r"^(\./|docker://|[\w.-]+/[\w./-]+@[\w.-]+$)"),
                "run": described("Commands to run in the shell.", type="string"),
                "working-directory": {"type": "string"},
                "shell": ref("shell"),
                "with": ref("env"),
                "env": ref("env"),
                "continue-on-error": {"oneOf": [{"type": "boolean"}, EXPRESSION]},
                "timeout-minutes": {"oneOf": [{"type": "number", "exclusiveMinimum": 0}, EXPRESSION]},
            },
        },
        "normalJob": {
            "type": "object",
            "required": ["runs-on"],
            "additionalProperties": False,
            "properties": {
                "name": {"type": "string"},
                "needs": ref("jobNeeds"),
                "permissions": ref("permissions"),
                "runs-on": ref("runsOn"),
                "environment": {"oneOf": [{"type": "string"}, {"type": "object", "required": ["name"],
                                                               "properties": {"name": {"type": "string"},
                                                                              "url": {"type": "string"}}}]},
                "concurrency": ref("concurrency"),
                "outputs": {"type": "object", "additionalProperties": {"type": "string"}, "minProperties": 1},
                "env": ref("env"),
                "defaults": ref("defaults"),
                "if": {"type": ["boolean", "number", "string"]},
                "steps": {"type": "array", "items": ref("step"), "minItems": 1},
                "timeout-minutes": {"oneOf": [{"type": "number"}, EXPRESSION]},
                "strategy": ref("strategy"),
                "continue-on-error": {"oneOf": [{"type": "boolean"}, EXPRESSION]},
                "container": {"oneOf": [{"type": "string"}, ref("container")]},
                "services": {"type": "object", "additionalProperties": ref("container")},
            },
        },
        "reusableWorkflowCallJob": {
            "type": "object",
            "required": ["uses"],
            "additionalProperties": False,
            "properties": {
                "name": {"type": "string"},
                "needs": ref("jobNeeds"),
                "permissions": ref("permissions"),
                "if": {"type": ["boolean", "number", "string"]},
                "uses": {"type": "string", "pattern": r"^(.+/)+(.+)\.(ya?ml)(@.+)?$"},
                "with": ref("env"),
                "secrets": {"oneOf": [ref("env"), {"enum": ["inherit"]}]},
                "strategy": ref("strategy"),
                "concurrency": ref("concurrency"),
            },
        },
    },
}

WORDS = ("alpha beta gamma delta api cache worker queue frontend backend gateway storage metrics logging "
         "auth billing search router scheduler proxy database replica shard index stream batch").split()


def pick(rng, seq, k=None):
    return rng.choice(seq) if k is None else rng.sample(seq, k)


def ident(rng):
    return f"{pick(rng, WORDS)}-{pick(rng, WORDS)}"


def workflow(rng):
    def step():
        s = {"name": f"{pick(rng, ['Build', 'Test', 'Lint', 'Upload', 'Set up'])} {pick(rng, WORDS)}"}
        if rng.random() < 0.5:
            s["uses"] = pick(rng, ["actions/checkout@v4", "actions/setup-python@v5", "actions/cache@v4",
                                   "actions/upload-artifact@v4", "docker/build-push-action@v6"])
            if rng.random() < 0.6:
                s["with"] = {"python-version": pick(rng, ["3.11", "3.12", "3.13"]), "cache": "pip"}
        else:
            s["run"] = "\n".join(f"{pick(rng, ['make', 'pytest', 'ruff check', 'pip install'])} "
                                 f"{pick(rng, WORDS)}" for _ in range(rng.randint(1, 4))) + "\n"
            if rng.random() < 0.3:
                s["shell"] = "bash"
        if rng.random() < 0.3:
            s["env"] = {f"{pick(rng, WORDS).upper()}_TOKEN": "${{ secrets.TOKEN }}"}
        if rng.random() < 0.2:
            s["if"] = "${{ github.event_name == 'push' }}"
        return s

    jobs = {}
    for j in range(rng.randint(1, 4)):
        name = f"{pick(rng, ['build', 'test', 'lint', 'deploy', 'docs'])}{j}"
        if rng.random() < 0.15:
            jobs[name] = {"uses": f"octo-org/{pick(rng, WORDS)}/.github/workflows/ci.yml@main",
                          "secrets": "inherit", "with": {"target": pick(rng, WORDS)}}
            continue
        job = {"runs-on": pick(rng, ["ubuntu-latest", "windows-latest", "macos-14"]),
               "steps": [step() for _ in range(rng.randint(2, 8))]}
        if jobs and rng.random() < 0.5:
            job["needs"] = [pick(rng, list(jobs))]
        if rng.random() < 0.4:
            job["strategy"] = {"fail-fast": False, "matrix": {
                "python": ["3.11", "3.12", "3.13"], "os": ["ubuntu-latest", "windows-latest"]}}
        if rng.random() < 0.3:
            job["timeout-minutes"] = rng.randint(5, 60)
        jobs[name] = job
    doc = {"name": f"CI {pick(rng, WORDS)}",
           "on": pick(rng, [
               "push",
               ["push", "pull_request"],
               {"push": {"branches": ["main"], "paths-ignore": ["docs/**"]}, "pull_request": None},
               {"schedule": [{"cron": "30 5 * * 1-5"}], "workflow_dispatch": None},
           ]),
           "permissions": pick(rng, ["read-all", {"contents": "read", "id-token": "write"}]),
           "jobs": jobs}
    if rng.random() < 0.4:
        doc["concurrency"] = {"group": "${{ github.ref }}", "cancel-in-progress": True}
    if rng.random() < 0.4:
        doc["env"] = {"PYTHONUNBUFFERED": 1, "FORCE_COLOR": "1"}
    return doc


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


# ---- a deployment manifest -------------------------------------------------------

DNS_LABEL = r"^[a-z0-9]([-a-z0-9]*[a-z0-9])?$"
QUANTITY = {"oneOf": [{"type": "string", "pattern": r"^[0-9]+(\.[0-9]+)?(m|k|M|G|T|Ki|Mi|Gi|Ti)?$"},
                      {"type": "number"}]}

DEPLOYMENT = {
    "$schema": DRAFT,
    "title": "Deployment manifest",
    "type": "object",
    "required": ["apiVersion", "kind", "metadata", "spec"],
    "properties": {
        "apiVersion": {"enum": ["apps/v1"]},
        "kind": {"enum": ["Deployment"]},
        "metadata": ref("objectMeta"),
        "spec": {
            "type": "object",
            "required": ["selector", "template"],
            "properties": {
                "replicas": described("Desired number of pods.", type="integer", minimum=0),
                "revisionHistoryLimit": {"type": "integer", "minimum": 0},
                "selector": ref("labelSelector"),
                "strategy": {"type": "object", "properties": {
                    "type": {"enum": ["RollingUpdate", "Recreate"]},
                    "rollingUpdate": {"type": "object", "properties": {
                        "maxSurge": ref("intOrPercent"), "maxUnavailable": ref("intOrPercent")}}}},
                "template": {"type": "object", "properties": {
                    "metadata": ref("objectMeta"), "spec": ref("podSpec")}},
            },
            "additionalProperties": False,
        },
        "status": {"type": "object"},
    },
    "additionalProperties": False,
    "definitions": {
        "intOrPercent": {"oneOf": [{"type": "integer", "minimum": 0}, {"type": "string", "pattern": "^[0-9]+%$"}]},
        "labels": {
            "type": "object",
            "patternProperties": {
                r"^([a-z0-9A-Z]([a-z0-9A-Z._-]*[a-z0-9A-Z])?/)?[a-z0-9A-Z]([a-z0-9A-Z._-]{0,61}[a-z0-9A-Z])?$": {
                    "type": "string", "maxLength": 63}},
            "additionalProperties": False,
        },
        "objectMeta": {
            "type": "object",
            "properties": {
                "name": {"type": "string", "maxLength": 253,
                         "pattern": r"^[a-z0-9]([-a-z0-9]*[a-z0-9])?(\.[a-z0-9]([-a-z0-9]*[a-z0-9])?)*$"},
                "namespace": {"type": "string", "pattern": DNS_LABEL},
                "labels": ref("labels"),
                "annotations": {"type": "object", "additionalProperties": {"type": "string"}},
            },
        },
        "labelSelector": {"type": "object", "properties": {
            "matchLabels": ref("labels"),
            "matchExpressions": {"type": "array", "items": {
                "type": "object", "required": ["key", "operator"], "properties": {
                    "key": {"type": "string"}, "operator": {"enum": ["In", "NotIn", "Exists", "DoesNotExist"]},
                    "values": STRING_LIST}}}}},
        "envVar": {
            "type": "object",
            "required": ["name"],
            "additionalProperties": False,
            "properties": {
                "name": {"type": "string", "pattern": "^[-._a-zA-Z][-._a-zA-Z0-9]*$"},
                "value": {"type": "string"},
                "valueFrom": {"oneOf": [
                    {"required": ["secretKeyRef"], "properties": {"secretKeyRef": ref("keySelector")}},
                    {"required": ["configMapKeyRef"], "properties": {"configMapKeyRef": ref("keySelector")}},
                    {"required": ["fieldRef"], "properties": {"fieldRef": {"type": "object", "required": [
                        "fieldPath"]}}},
                ]},
            },
        },
        "keySelector": {"type": "object", "required": ["key"], "properties": {
            "key": {"type": "string"}, "name": {"type": "string", "pattern": DNS_LABEL},
            "optional": {"type": "boolean"}}},
        "quantities": {"type": "object", "patternProperties": {"^(cpu|memory|ephemeral-storage)$": QUANTITY},
                       "additionalProperties": False},
        "probe": {"type": "object", "properties": {
            "httpGet": {"type": "object", "required": ["port"], "properties": {
                "path": {"type": "string", "pattern": "^/"},
                "port": {"oneOf": [{"type": "integer", "minimum": 1, "maximum": 65535},
                                   {"type": "string", "pattern": DNS_LABEL}]},
                "scheme": {"enum": ["HTTP", "HTTPS"]}}},
            "tcpSocket": {"type": "object", "required": ["port"]},
            "exec": {"type": "object", "properties": {"command": STRING_LIST}},
            "initialDelaySeconds": {"type": "integer", "minimum": 0},
            "periodSeconds": {"type": "integer", "minimum": 1},
            "timeoutSeconds": {"type": "integer", "minimum": 1},
            "failureThreshold": {"type": "integer", "minimum": 1}},
            "additionalProperties": False},
        "container": {
            "type": "object",
            "required": ["name", "image"],
            "additionalProperties": False,
            "properties": {
                "name": {"type": "string", "pattern": DNS_LABEL, "maxLength": 63},
                "image": described("Container image name.", type="string", minLength=1),
                "imagePullPolicy": {"enum": ["Always", "IfNotPresent", "Never"]},
                "command": STRING_LIST,
                "args": STRING_LIST,
                "workingDir": {"type": "string"},
                "ports": {"type": "array", "items": {
                    "type": "object", "required": ["containerPort"], "additionalProperties": False,
                    "properties": {
                        "containerPort": {"type": "integer", "minimum": 1, "maximum": 65535},
                        "name": {"type": "string", "pattern": DNS_LABEL, "maxLength": 15},
                        "protocol": {"enum": ["TCP", "UDP", "SCTP"]}}}},
                "env": {"type": "array", "items": ref("envVar")},
                "resources": {"type": "object", "additionalProperties": False, "properties": {
                    "limits": ref("quantities"), "requests": ref("quantities")}},
                "livenessProbe": ref("probe"),
                "readinessProbe": ref("probe"),
                "volumeMounts": {"type": "array", "items": {
                    "type": "object", "required": ["name", "mountPath"], "properties": {
                        "name": {"type": "string"}, "mountPath": {"type": "string", "pattern": "^/"},
                        "readOnly": {"type": "boolean"}, "subPath": {"type": "string"}}}},
                "securityContext": {"type": "object"},
            },
        },
        "volume": {
            "type": "object",
            "required": ["name"],
            "properties": {"name": {"type": "string", "pattern": DNS_LABEL}},
            "oneOf": [{"required": ["configMap"]}, {"required": ["secret"]}, {"required": ["emptyDir"]},
                      {"required": ["persistentVolumeClaim"]}],
        },
        "podSpec": {
            "type": "object",
            "required": ["containers"],
            "properties": {
                "containers": {"type": "array", "items": ref("container"), "minItems": 1},
                "initContainers": {"type": "array", "items": ref("container")},
                "volumes": {"type": "array", "items": ref("volume")},
                "serviceAccountName": {"type": "string", "pattern": DNS_LABEL},
                "nodeSelector": {"type": "object", "additionalProperties": {"type": "string"}},
                "restartPolicy": {"enum": ["Always", "OnFailure", "Never"]},
                "terminationGracePeriodSeconds": {"type": "integer", "minimum": 0},
                "tolerations": {"type": "array", "items": {"type": "object", "properties": {
                    "key": {"type": "string"}, "operator": {"enum": ["Exists", "Equal"]},
                    "effect": {"enum": ["NoSchedule", "PreferNoSchedule", "NoExecute"]}}}},
            },
        },
    },
}


def deployment(rng):
    app = ident(rng)
    labels = {"app.kubernetes.io/name": app, "tier": pick(rng, ["web", "worker", "cache"])}

    def container(i):
        c = {"name": f"{app}-{i}", "image": f"registry.example.com/{app}:{rng.randint(1, 9)}.{rng.randint(0, 9)}",
             "imagePullPolicy": "IfNotPresent",
             "ports": [{"containerPort": rng.randint(1024, 9999), "name": "http", "protocol": "TCP"}]}
        if rng.random() < 0.8:
            c["env"] = [{"name": f"{pick(rng, WORDS).upper()}_{k}", "value": pick(rng, WORDS)}
                        for k in range(rng.randint(1, 6))]
            if rng.random() < 0.5:
                c["env"].append({"name": "PASSWORD", "valueFrom": {
                    "secretKeyRef": {"name": f"{app}-secret", "key": "password"}}})
        c["resources"] = {"limits": {"cpu": f"{rng.randint(100, 900)}m", "memory": f"{rng.randint(1, 8)}Gi"},
                          "requests": {"cpu": "100m", "memory": "256Mi"}}
        if rng.random() < 0.7:
            c["livenessProbe"] = {"httpGet": {"path": "/healthz", "port": "http"}, "initialDelaySeconds": 10,
                                  "periodSeconds": 15}
        if rng.random() < 0.5:
            c["volumeMounts"] = [{"name": "config", "mountPath": "/etc/app", "readOnly": True}]
        return c

    pod = {"containers": [container(i) for i in range(rng.randint(1, 3))],
           "volumes": [{"name": "config", "configMap": {"name": f"{app}-config"}}]}
    if rng.random() < 0.4:
        pod["nodeSelector"] = {"kubernetes.io/os": "linux"}
    return {"apiVersion": "apps/v1", "kind": "Deployment",
            "metadata": {"name": app, "namespace": pick(rng, ["default", "prod", "staging"]), "labels": labels},
            "spec": {"replicas": rng.randint(1, 6), "selector": {"matchLabels": labels},
                     "strategy": {"type": "RollingUpdate", "rollingUpdate": {"maxSurge": "25%",
                                                                             "maxUnavailable": 0}},
                     "template": {"metadata": {"labels": labels}, "spec": pod}}}


# ---- an API description (recursive schema objects) ---------------------------------

OR_REFERENCE = lambda name: {"oneOf": [ref(name), ref("reference")]}  # noqa: E731

API = {
    "$schema": DRAFT,
    "title": "API description",
    "type": "object",
    "required": ["openapi", "info", "paths"],
    "properties": {
        "openapi": {"type": "string", "pattern": r"^3\.0\.\d(-.+)?$"},
        "info": {
            "type": "object",
            "required": ["title", "version"],
            "properties": {
                "title": {"type": "string"}, "description": {"type": "string"}, "version": {"type": "string"},
                "termsOfService": {"type": "string", "format": "uri-reference"},
                "contact": {"type": "object", "properties": {
                    "name": {"type": "string"}, "url": {"type": "string"},
                    "email": {"type": "string", "pattern": "^[^@]+@[^@]+$"}}},
                "license": {"type": "object", "required": ["name"], "properties": {
                    "name": {"type": "string"}, "url": {"type": "string"}}},
            },
            "patternProperties": {"^x-": {}},
            "additionalProperties": False,
        },
        "servers": {"type": "array", "items": {"type": "object", "required": ["url"], "properties": {
            "url": {"type": "string"}, "description": {"type": "string"}}}},
        "paths": {"type": "object", "patternProperties": {"^/": ref("pathItem"), "^x-": {}},
                  "additionalProperties": False},
        "components": {"type": "object", "properties": {
            "schemas": {"type": "object", "patternProperties": {r"^[a-zA-Z0-9.\-_]+$": OR_REFERENCE("schema")}},
            "parameters": {"type": "object", "additionalProperties": OR_REFERENCE("parameter")},
            "responses": {"type": "object", "additionalProperties": OR_REFERENCE("response")}}},
        "tags": {"type": "array", "uniqueItems": True, "items": {"type": "object", "required": ["name"],
                                                                 "properties": {"name": {"type": "string"}}}},
    },
    "patternProperties": {"^x-": {}},
    "additionalProperties": False,
    "definitions": {
        "reference": {"type": "object", "required": ["$ref"], "properties": {
            "$ref": {"type": "string", "pattern": "^#/"}}},
        "schema": {
            "type": "object",
            "additionalProperties": False,
            "patternProperties": {"^x-": {}},
            "properties": {
                "title": {"type": "string"}, "description": {"type": "string"}, "format": {"type": "string"},
                "type": {"enum": ["array", "boolean", "integer", "number", "object", "string"]},
                "nullable": {"type": "boolean"}, "deprecated": {"type": "boolean"},
                "enum": {"type": "array", "minItems": 1},
                "default": {}, "example": {},
                "required": {"type": "array", "items": {"type": "string"}, "minItems": 1, "uniqueItems": True},
                "properties": {"type": "object", "additionalProperties": OR_REFERENCE("schema")},
                "items": OR_REFERENCE("schema"),
                "additionalProperties": {"oneOf": [ref("schema"), ref("reference"), {"type": "boolean"}]},
                "allOf": {"type": "array", "items": OR_REFERENCE("schema")},
                "oneOf": {"type": "array", "items": OR_REFERENCE("schema")},
                "anyOf": {"type": "array", "items": OR_REFERENCE("schema")},
                "minimum": {"type": "number"}, "maximum": {"type": "number"},
                "minLength": {"type": "integer", "minimum": 0}, "maxLength": {"type": "integer", "minimum": 0},
                "pattern": {"type": "string"},
            },
        },
        "parameter": {
            "type": "object",
            "required": ["name", "in"],
            "properties": {
                "name": {"type": "string"}, "in": {"enum": ["query", "header", "path", "cookie"]},
                "description": {"type": "string"}, "required": {"type": "boolean"},
                "schema": OR_REFERENCE("schema"),
            },
            "additionalProperties": False,
        },
        "mediaTypes": {"type": "object", "patternProperties": {r"^[a-z]+/[-+.a-z0-9]+$": {
            "type": "object", "properties": {"schema": OR_REFERENCE("schema")}}}},
        "response": {"type": "object", "required": ["description"], "properties": {
            "description": {"type": "string"}, "content": ref("mediaTypes"),
            "headers": {"type": "object"}}, "additionalProperties": False},
        "operation": {
            "type": "object",
            "required": ["responses"],
            "additionalProperties": False,
            "patternProperties": {"^x-": {}},
            "properties": {
                "tags": STRING_LIST, "summary": {"type": "string"}, "description": {"type": "string"},
                "operationId": {"type": "string", "pattern": "^[A-Za-z][A-Za-z0-9_]*$"},
                "parameters": {"type": "array", "items": OR_REFERENCE("parameter")},
                "requestBody": {"type": "object", "required": ["content"], "properties": {
                    "description": {"type": "string"}, "content": ref("mediaTypes"),
                    "required": {"type": "boolean"}}},
                "responses": {"type": "object", "minProperties": 1, "additionalProperties": False,
                              "properties": {"default": OR_REFERENCE("response")},
                              "patternProperties": {r"^[1-5](?:\d{2}|XX)$": OR_REFERENCE("response")}},
                "deprecated": {"type": "boolean"},
            },
        },
        "pathItem": {
            "type": "object",
            "additionalProperties": False,
            "properties": {"summary": {"type": "string"}, "description": {"type": "string"},
                           "parameters": {"type": "array", "items": OR_REFERENCE("parameter")}},
            "patternProperties": {"^(get|put|post|delete|options|head|patch|trace)$": ref("operation"),
                                  "^x-": {}},
        },
    },
}


def api(rng):
    models = [pick(rng, WORDS).capitalize() + str(i) for i in range(rng.randint(2, 6))]

    def schema(depth=0):
        kind = pick(rng, ["string", "integer", "object", "array"] if depth < 2 else ["string", "integer"])
        if kind == "object":
            props = {pick(rng, WORDS) + str(i): schema(depth + 1) for i in range(rng.randint(1, 5))}
            return {"type": "object", "required": [next(iter(props))], "properties": props}
        if kind == "array":
            return {"type": "array", "items": pick(rng, [{"$ref": f"#/components/schemas/{pick(rng, models)}"},
                                                         schema(depth + 1)])}
        s = {"type": kind}
        if kind == "string" and rng.random() < 0.3:
            s["enum"] = pick(rng, WORDS, 3)
        if kind == "integer" and rng.random() < 0.3:
            s["minimum"] = 0
        return s

    def operation(model):
        body = {"application/json": {"schema": {"$ref": f"#/components/schemas/{model}"}}}
        op = {"summary": f"{pick(rng, ['List', 'Get', 'Create', 'Update'])} {model}",
              "operationId": f"{pick(rng, WORDS)}{model}", "tags": [pick(rng, WORDS)],
              "responses": {"200": {"description": "OK", "content": body},
                            "404": {"$ref": "#/components/responses/NotFound"}}}
        if rng.random() < 0.5:
            op["parameters"] = [{"name": "limit", "in": "query", "schema": {"type": "integer", "minimum": 1}}]
        return op

    paths = {}
    for model in models:
        base = f"/{model.lower()}s"
        paths[base] = {"get": operation(model)}
        if rng.random() < 0.6:
            paths[base]["post"] = operation(model)
        if rng.random() < 0.5:
            paths[base + "/{id}"] = {"parameters": [{"name": "id", "in": "path", "required": True,
                                                     "schema": {"type": "string"}}],
                                     "get": operation(model)}
    return {"openapi": "3.0.3",
            "info": {"title": f"{pick(rng, WORDS).capitalize()} API", "version": "1.0.0",
                     "contact": {"email": "team@example.com"}},
            "servers": [{"url": "https://api.example.com/v1"}],
            "paths": paths,
            "components": {"schemas": {m: schema() for m in models},
                           "responses": {"NotFound": {"description": "Not found"}}}}


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

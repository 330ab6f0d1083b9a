"""The workflow case: its schema and a generator of documents that follow it."""

from .common import DRAFT, ref, described, STRING_LIST, EXPRESSION, WORDS, pick

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

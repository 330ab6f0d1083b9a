"""The api case: its schema and a generator of documents that follow it."""

from .common import DRAFT, ref, STRING_LIST, WORDS, pick

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

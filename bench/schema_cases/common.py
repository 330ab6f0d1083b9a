"""What the schemas and generators of the cases share."""

DRAFT = "http://json-schema.org/draft-07/schema#"


def ref(name):
    return {"$ref": f"#/definitions/{name}"}


def described(text, **schema):
    return {"description": text, **schema}


STRING_LIST = {"type": "array", "items": {"type": "string"}}
UNIQUE_STRINGS = {"type": "array", "items": {"type": "string"}, "uniqueItems": True}
EXPRESSION = {"type": "string", "pattern": r"^\$\{\{(.|[\r\n])*\}\}$"}

WORDS = ("alpha beta gamma delta api cache worker queue frontend backend gateway storage metrics logging "
         "auth billing search router scheduler proxy database replica shard index stream batch").split()


def pick(rng, seq, k=None):
    return rng.choice(seq) if k is None else rng.sample(seq, k)


def ident(rng):
    return f"{pick(rng, WORDS)}-{pick(rng, WORDS)}"

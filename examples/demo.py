"""A tour of kestrine: load the configuration shipped next to this file.

Run with ``make demo`` (or ``PYTHONPATH=python python3 examples/demo.py``).
"""

import pathlib
import pprint

import kestrine

HERE = pathlib.Path(__file__).resolve().parent
CONFIG = HERE / "config.yaml"


def main():
    data = CONFIG.read_bytes()
    print(f"{CONFIG.name}: %YAML {kestrine.yaml_version(data)}")

    # Plain loading: dicts, lists, str, int, float, bool and None.
    config = kestrine.loads(data)
    pprint.pprint(config, sort_dicts=False, width=100)

    # Merge keys fold the shared defaults into each endpoint.
    for endpoint in config["endpoints"]:
        print(f"  {endpoint['name']:<12} retries={endpoint['retries']} backoff={endpoint['backoff']}")

    # YAML 1.1 timestamps become date/datetime objects on request.
    released = kestrine.loads(data, option=kestrine.OPT_TIMESTAMPS)["service"]["released"]
    print(f"released: {released!r}")

    # Custom tags: a callable per tag, or keep the tag with OPT_PASSTHROUGH_TAG.
    text = "size: !bytes 4KiB\nowner: !team platform\n"
    units = {"KiB": 1024, "MiB": 1024 ** 2}
    sizes = kestrine.loads(text, tags={"!bytes": lambda v: int(v[:-3]) * units[v[-3:]]},
                           option=kestrine.OPT_PASSTHROUGH_TAG)
    print(f"tags: {sizes}")

    # Annotated loading: every mapping, list and string remembers where it
    # was written (1-based line and column, byte offsets, the file name).
    located = kestrine.loads(data, option=kestrine.OPT_ANNOTATED, root_path=CONFIG.name)
    name = located["service"]["name"]
    print(f"service.name {name!r} is at {name.__file__}, line {name.__line__}, column {name.__column__}")

    # Round-trip loading keeps comments, styles and anchors: an unedited
    # document dumps back byte for byte.
    document = kestrine.loads(data, option=kestrine.OPT_ROUND_TRIP)
    print(f"round trip unchanged: {kestrine.dumps(document) == data}")

    # Dumping Python data: YAML (bytes) and JSON.
    summary = {"service": config["service"]["name"], "endpoints": [e["name"] for e in config["endpoints"]]}
    print(kestrine.dumps(summary, option=kestrine.OPT_SORT_KEYS).decode(), end="")
    print(kestrine.to_json(summary).decode())

    # Errors carry their position.
    try:
        kestrine.loads("service:\n  name: [unclosed\n")
    except kestrine.KestrineParseError as err:
        print(f"error: {err}")
        print(f"  as attributes: line={err.line} column={err.column}")


if __name__ == "__main__":
    main()

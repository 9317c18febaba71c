"""Command line: load a JSON or TOML document into a TarvelVar, change it, and print parts of it.

    python -m tarvel_var [FILE|-] [--set NAME=JSON] [--merge JSON] [--get PATH] [--keys] ...
"""

from __future__ import annotations

import argparse
import json
import sys
import tomllib
from importlib import resources
from typing import Any, NoReturn

from . import TarvelVar

EXAMPLES = """\
examples:
  python -m tarvel_var                                  the sample configuration as JSON
  python -m tarvel_var config.toml --get '$.database.port'
  python -m tarvel_var config.json --get title --raw
  python -m tarvel_var config.json --get '$.a.b' --default 0
  echo '{"a": 1}' | python -m tarvel_var - --set b='[1, 2]' --merge '{"c": {"d": 3}}' --dict --sort
  python -m tarvel_var config.toml --keys --params
"""


class CliError(Exception):
    """A problem with the input, reported as one line and exit status 2."""


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="tarvel-var",
        description="Load a JSON or TOML document into a variable store and print what the "
        "options ask for, in the order given. With no option the store is printed as JSON.",
        epilog=EXAMPLES,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument("file", nargs="?", help="document to load: a path, or - for standard "
                        "input (default: the sample configuration shipped with the package)")
    parser.add_argument("--format", choices=["json", "toml"],
                        help="how to parse the document (default: by the file's extension; "
                        "JSON for standard input)")
    edits = parser.add_argument_group("changes, applied in order before printing")
    edits.add_argument("--set", dest="edits", action="append", metavar="NAME=JSON",
                       type=lambda text: ("set", text),
                       help="assign a JSON value to a variable, e.g. --set port=8081")
    edits.add_argument("--merge", dest="edits", action="append", metavar="JSON",
                       type=lambda text: ("merge", text),
                       help='merge a JSON object into the store, e.g. --merge \'{"db": {"user": "x"}}\'')
    shows = parser.add_argument_group("output, printed in the order given")
    shows.add_argument("--get", dest="shows", action="append", metavar="PATH",
                       type=lambda text: ("get", text),
                       help="a variable by name or by \"$.\" path, as JSON, e.g. --get '$.db.port'")
    for flag, help_text in [
        ("keys", "the variable names, as a JSON list"),
        ("items", "the [name, value] pairs, as a JSON list"),
        ("params", "the parameter string, e.g. a=1&b='x'"),
        ("string", 'the quoted listing, e.g. "a": "1", "b": "\'x\'"'),
        ("repr", "the representation, e.g. TarvelVar(a=1, b='x')"),
        ("dict", "the whole store as a JSON object (the default output)"),
    ]:
        shows.add_argument(f"--{flag}", dest="shows", action="append_const", const=(flag, None),
                           help=help_text)
    parser.add_argument("--default", metavar="VALUE",
                        help="what --get prints for a missing path (JSON, or else the text itself)")
    parser.add_argument("--sort", action="store_true", help="with --dict: order the top-level names")
    parser.add_argument("--raw", action="store_true",
                        help="print string values without JSON quotes, like jq -r")
    return parser


def load_document(file: str | None, fmt: str | None) -> dict[str, Any]:
    if file is None:
        text = resources.files(__package__).joinpath("sample.toml").read_text(encoding="utf-8")
        return parse(text, "toml", "<sample>")
    if file == "-":
        return parse(sys.stdin.read(), fmt or "json", "<stdin>")
    try:
        with open(file, encoding="utf-8") as handle:
            text = handle.read()
    except OSError as error:
        raise CliError(f"{file}: cannot read: {error.strerror or error}") from None
    except UnicodeDecodeError as error:
        raise CliError(f"{file}: not UTF-8 text: {error.reason} at byte {error.start}") from None
    fmt = fmt or ("toml" if file.endswith(".toml") else "json")
    return parse(text, fmt, file)


def parse(text: str, fmt: str, source: str) -> dict[str, Any]:
    if fmt == "toml":
        try:
            document = tomllib.loads(text)
        except tomllib.TOMLDecodeError as error:
            raise CliError(f"{source}: invalid TOML: {error}") from None
    else:
        try:
            document = json.loads(text)
        except json.JSONDecodeError as error:
            raise CliError(f"{source}:{error.lineno}:{error.colno}: invalid JSON: {error.msg}") from None
    if not isinstance(document, dict):
        raise CliError(f"{source}: the top level must be an object, not {json_type(document)}")
    return document


def json_type(value: Any) -> str:
    names = {list: "an array", str: "a string", bool: "a boolean", type(None): "null"}
    return names.get(type(value), "a number")


def apply_edit(store: TarvelVar, kind: str, text: str) -> None:
    if kind == "set":
        name, sep, value = text.partition("=")
        if not sep or not name:
            raise CliError(f"--set {text}: expected NAME=JSON")
        store._mv_set(name, parse_json_arg(value, f"--set {name}"))
        return
    value = parse_json_arg(text, "--merge")
    if not isinstance(value, dict):
        raise CliError(f"--merge: expected a JSON object, not {json_type(value)}")
    store._mv_add(value)


def parse_json_arg(text: str, where: str) -> Any:
    try:
        return json.loads(text)
    except json.JSONDecodeError as error:
        raise CliError(f"{where}: invalid JSON at column {error.colno}: {error.msg}") from None


def plain(store: TarvelVar, value: Any) -> Any:
    """A value with its nested stores and sequences turned into plain containers."""
    return store._list_to_dict([value])[0]


def render(value: Any, raw: bool) -> str:
    if raw and isinstance(value, str):
        return value
    return json.dumps(value, ensure_ascii=False, default=str)


def show(store: TarvelVar, kind: str, arg: str | None, options: argparse.Namespace) -> str:
    if kind == "get":
        default = None if options.default is None else default_value(options.default)
        return render(plain(store, store._mv_get(arg, default)), options.raw)
    if kind == "keys":
        return render(store._mv_keys(), False)
    if kind == "items":
        return render([[name, plain(store, value)] for name, value in store._mv_items()], False)
    if kind == "params":
        return store._mv_to_params()
    if kind == "string":
        return store._mv_to_string()
    if kind == "repr":
        return repr(store)
    return render(store._mv_to_dict(sort=options.sort), False)


def default_value(text: str) -> Any:
    try:
        return json.loads(text)
    except json.JSONDecodeError:
        return text


def fail(message: str) -> NoReturn:
    print(f"tarvel-var: error: {' '.join(message.split())}", file=sys.stderr)
    raise SystemExit(2)


def main(argv: list[str] | None = None) -> int:
    options = build_parser().parse_args(argv)
    try:
        document = load_document(options.file, options.format)
        store = TarvelVar(document)
        for kind, text in options.edits or []:
            apply_edit(store, kind, text)
        for kind, arg in options.shows or [("dict", None)]:
            print(show(store, kind, arg, options))
    except CliError as error:
        fail(str(error))
    except RecursionError:
        fail("the document is nested too deeply")
    return 0


if __name__ == "__main__":
    sys.exit(main())

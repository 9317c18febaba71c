"""Command line: load a JSON, TOML or YAML document into a TarvelVar, change it, print parts.

    tarvel-var [FILE|-] [--env PREFIX] [--set PATH=JSON] [--merge JSON] [--get PATH] ...

Exit status: 0 done, 1 a `--get` found nothing or null under `-e`, 2 bad input (one line
on standard error), 141 the reader of standard output went away (as for a process ended
by SIGPIPE), 130 interrupted.

The work most calls do is to read a document and print a path or the whole of it, perhaps
after a --set. For a JSON document that holds no underscore key those answers are the same
from the plain document as from a store built from it (the store keeps a JSON document as
it is, apart from the underscore names it reserves), so such calls skip building the store;
a merge, the environment and the store's own renderings build it.
"""

from __future__ import annotations

import os
import sys
from typing import TYPE_CHECKING, Any, NoReturn

from . import files, paths
from .formats import plain_form

if TYPE_CHECKING:
    import argparse
    from collections.abc import Callable

EXAMPLES = """\
examples:
  tarvel-var                                  the sample configuration as JSON
  tarvel-var config.toml --get '$.database.port'
  tarvel-var config.json --get '$.servers.0.host' --raw
  tarvel-var config.json -e --get '$.a.b'     exit 1 when $.a.b is missing or null
  tarvel-var config.yaml --env APP --set '$.db.port=5433' --to toml
  echo '{"a": 1}' | tarvel-var - --set b='[1, 2]' --merge '{"c": {"d": 3}}' --dict --sort
  tarvel-var config.toml --keys --params
"""

# What needs the store itself rather than the plain document.
STORE_SHOWS = {"params", "string", "repr"}
BROKEN_PIPE_STATUS = 128 + 13  # what a shell reports for a process ended by SIGPIPE


class CliError(Exception):
    """A problem with the input, reported as one line and exit status 2."""


class OutputError(Exception):
    """Standard output could not be written (not a closed pipe): one line, exit status 2."""

    def __init__(self, error: OSError) -> None:
        super().__init__(error.strerror or str(error))


class Option:
    """One option of the command line, which both of its parsers read.

    `kind` says what it does: "show" prints (its value, if it takes one, goes with it),
    "edit" changes the store, "flag" sets `dest` to True, "value" sets `dest` to its value,
    "each" adds its value to the list `dest`. `check` turns a value's text into the value, or
    returns None for text the option does not take; `refusal` is what argparse says of a
    value `check` refuses, with {text!r}. (A plain class: a NamedTuple costs every run of
    the command line a millisecond to define.)"""

    __slots__ = ("spellings", "kind", "dest", "help", "group", "metavar", "check", "refusal")

    def __init__(self, spellings: tuple[str, ...], kind: str, dest: str, help: str, group: str = "",
                 metavar: str | None = None, check: Callable[[str], Any] | None = None,
                 refusal: str = "") -> None:
        self.spellings, self.kind, self.dest, self.help = spellings, kind, dest, help
        self.group, self.metavar, self.check, self.refusal = group, metavar, check, refusal


def _format_name(text: str) -> str | None:
    return text if text in files.FORMATS else None


def _spaces(text: str) -> int | None:
    return int(text) if text.isascii() and text.isdigit() and int(text) <= 32 else None


CHANGES = ("changes: the environment first, then --set, --merge and --del in the order given, "
           "then --resolve and --schema")
OUTPUT = "output, printed in the order given"
STYLE = "how values are printed"

OPTIONS = [
    Option(("--format",), "value", "format", "how to parse the document (default: by the file's "
           "extension; for standard input or another extension, the first of JSON, TOML and YAML "
           "that reads it)", metavar="{json,toml,yaml}", check=_format_name,
           refusal="invalid format {text!r} (choose from json, toml, yaml)"),
    Option(("--env",), "each", "env", "set each variable PREFIX_NAME and PREFIX_SECTION__NAME as "
           "an override, e.g. APP_DB__PORT=5433: an integer step into a list, names matched "
           "regardless of case, the text read as the type of the value it replaces (JSON, else "
           "text, for a new one)", CHANGES, "PREFIX"),
    Option(("--env-file",), "each", "env_files", "apply a .env file as --env applies the "
           "environment, before it (with each --env prefix, else every name; needs the extra "
           "'dotenv'); several apply in order", CHANGES, "FILE"),
    Option(("--secrets-dir",), "value", "secrets_dir", "apply each file of DIR as one setting, "
           "before the .env files: its name read as a variable's without the prefix "
           "(db__password), its content less one trailing newline", CHANGES, "DIR"),
    Option(("--set",), "edit", "set", "assign a JSON value to a variable, else to a path with or "
           "without '$.', making sections as needed, e.g. --set port=8081 --set "
           "'$.db.port=5433'", CHANGES, "PATH=JSON"),
    Option(("--merge",), "edit", "merge", 'merge a JSON object into the store, e.g. --merge '
           '\'{"db": {"user": "x"}}\'', CHANGES, "JSON"),
    Option(("--del",), "edit", "del", "remove a variable or the value at a \"$.\" path, e.g. "
           "--del '$.db.password'", CHANGES, "PATH"),
    Option(("--resolve",), "flag", "resolve", "after the changes, replace the ${...} references "
           "in values (${db.host}, ${env:NAME:-fallback}) by what they refer to", CHANGES),
    Option(("--schema",), "value", "schema", "check the store, after the changes and --resolve, "
           "against a dataclass, TypedDict, pydantic model or settings class importable from the "
           "current directory, e.g. --schema settings:App (needs the extra 'schema'; a settings "
           "class's field types also say how --env text reads); each problem "
           "is one line on standard error, and the exit status 2", CHANGES, "MODULE:CLASS"),
    Option(("--get",), "show", "get", "a variable by name, else a path with or without '$.' (list "
           "items by index: '$.servers.0.host'), as JSON; --keys, --items, --paths, --origins "
           "and --sort after it apply to what it selected, which it then does not print itself",
           OUTPUT, "PATH"),
    Option(("--origins",), "show", "origins", "where each leaf value was set, one line per leaf: "
           "'$.db.port = 5433  # env APP_DB__PORT' (after --get, only what it selected)", OUTPUT),
    Option(("--diff",), "show", "diff", "one line per difference from the document FILE "
           "('~ $.a: 1 -> 2', '+ $.b: true', '- $.c: null'), and exit status 1 when there is "
           "one, 0 when there is none", OUTPUT, "FILE"),
    Option(("--keys",), "show", "keys", "the variable names, as a JSON list", OUTPUT),
    Option(("--paths",), "show", "paths", "the \"$.\" path of every leaf value, one per line (as "
           "jq's paths)", OUTPUT),
    Option(("--items",), "show", "items", "the [name, value] pairs, as a JSON list", OUTPUT),
    Option(("--params",), "show", "params", "the parameter string, e.g. a=1&b='x'", OUTPUT),
    Option(("--string",), "show", "string", 'the quoted listing, e.g. "a": "1", "b": "\'x\'"', OUTPUT),
    Option(("--repr",), "show", "repr", "the representation, e.g. TarvelVar(a=1, b='x')", OUTPUT),
    Option(("--dict",), "show", "dict", "the whole store as a JSON object (the default output)", OUTPUT),
    Option(("--to",), "show", "to", "the whole store as a json, toml or yaml document (toml and yaml "
           "need the extras of those names)", OUTPUT, "FORMAT", _format_name,
           "invalid format {text!r} (choose from json, toml, yaml)"),
    Option(("--default",), "value", "default", "what --get prints for a missing path (JSON, or else "
           "the text itself)", STYLE, "VALUE"),
    Option(("-e", "--exit-status"), "flag", "exit_status", "exit with status 1 when a --get finds "
           "nothing or null, like jq -e", STYLE),
    Option(("--raw",), "flag", "raw", "print string values without JSON quotes, like jq -r", STYLE),
    Option(("--sort",), "flag", "sort", "order names at every level of --dict, --to and --get; "
           "--keys and --items list theirs in order", STYLE),
    Option(("--indent",), "value", "indent", "indent JSON by N spaces (default: 2 on a terminal, else "
           "one line)", STYLE, "N", _spaces,
           "expected a number of spaces from 0 to 32, not {text!r}"),
    Option(("-c", "--compact"), "flag", "compact", "print JSON on one line, also on a terminal", STYLE),
    Option(("--allow-nan",), "flag", "allow_nan", "write NaN and infinities as NaN, Infinity (not "
           "JSON) instead of refusing them", STYLE),
    Option(("--reveal",), "flag", "reveal", "write secrets (a schema's SecretStr values) as they "
           "are, not as '**********'", STYLE),
]
SPELLINGS = {spelling: option for option in OPTIONS for spelling in option.spellings}


def defaults() -> dict[str, Any]:
    """Every destination as it is before any option is read."""
    found: dict[str, Any] = {"files": [], "edits": None, "shows": None}
    for option in OPTIONS:
        if option.kind in ("flag", "value", "each"):
            found[option.dest] = False if option.kind == "flag" else None
    return found


def build_parser() -> argparse.ArgumentParser:
    import argparse

    parser = argparse.ArgumentParser(
        prog="tarvel-var",
        description="Load a JSON, TOML or YAML document into a variable store, apply\n"
        "environment overrides and changes, and print what the options ask for, in the\n"
        "order given. With no output option the store is printed as JSON.",
        epilog=EXAMPLES,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument("files", nargs="*", metavar="FILE", help="document to load: a path, or - "
                        "for standard input (default: the sample configuration shipped with the "
                        "package); several are composed in order, each over the ones before")
    parser.add_argument("--version", action="version", version=version_text(),
                        help="print the version, the Python it runs on, and which way the native "
                        "code takes where a private interface of the interpreter would be faster")
    groups: dict[str, Any] = {"": parser}
    for option in OPTIONS:
        if option.group not in groups:
            groups[option.group] = parser.add_argument_group(option.group)
        _add_to(groups[option.group], option)
    return parser


def version_text() -> str:
    """The package's version, the interpreter's, the native paths of this build and the
    formats it reads natively."""
    import platform
    from importlib.metadata import PackageNotFoundError, version

    from . import _store

    try:
        own = version("tarvel-var")
    except PackageNotFoundError:  # imported from a source tree
        own = "(not installed)"
    lines = [f"tarvel-var {own} on {platform.python_implementation()} {platform.python_version()}"
             f" ({sys.platform}, {platform.machine()})", "native paths:"]
    lines += [f"  {interface:<26}{way}" for interface, way in _store.native_paths()]
    readers = _store.native_readers()
    lines.append("native readers: " + (", ".join(readers) if readers else
                                       "none (the Python parsers read every format)"))
    return "\n".join(lines)


def _add_to(group: Any, option: Option) -> None:
    import argparse

    def typed(text: str, option: Option = option) -> Any:
        value = option.check(text) if option.check is not None else text
        if value is None:
            raise argparse.ArgumentTypeError(option.refusal.format(text=text))
        return (option.dest, value) if option.kind in ("show", "edit") else value

    if option.kind == "flag":
        group.add_argument(*option.spellings, dest=option.dest, action="store_true", help=option.help)
    elif option.kind == "show" and option.metavar is None:
        group.add_argument(*option.spellings, dest="shows", action="append_const",
                           const=(option.dest, None), help=option.help)
    else:
        dest = {"show": "shows", "edit": "edits"}.get(option.kind, option.dest)
        action = "store" if option.kind == "value" else "append"
        group.add_argument(*option.spellings, dest=dest, action=action, metavar=option.metavar,
                           type=typed, help=option.help)


# quick_parse reads argument lists made only of the options above, exactly spelled, without
# argparse: importing and building the parser takes longer than reading a small document.
# Anything else (--help, abbreviations, --opt=value, a value that starts with "-", a bad
# value) goes to argparse, which then parses or reports it as it always has.

def quick_parse(argv: list[str]) -> Any:
    """The options in `argv` as build_parser would read them, or None to let it read them."""
    from types import SimpleNamespace

    options = SimpleNamespace(**defaults())
    position = 0
    while position < len(argv):
        word = argv[position]
        position += 1
        option = SPELLINGS.get(word)
        if option is None:
            if word == "-" or not word.startswith("-"):
                options.files.append(word)
                continue
            return None
        if option.kind == "flag":
            setattr(options, option.dest, True)
            continue
        if option.kind == "show" and option.metavar is None:
            options.shows = (options.shows or []) + [(option.dest, None)]
            continue
        if position == len(argv) or argv[position].startswith("-"):
            return None
        text = argv[position]
        position += 1
        value = option.check(text) if option.check is not None else text
        if value is None:
            return None
        if option.kind in ("show", "edit"):
            dest = "shows" if option.kind == "show" else "edits"
            setattr(options, dest, (getattr(options, dest) or []) + [(option.dest, value)])
        elif option.kind == "each":
            setattr(options, option.dest, (getattr(options, option.dest) or []) + [value])
        else:
            setattr(options, option.dest, value)
    return options


# -- loading ---------------------------------------------------------------------------------

def read_input(file: str | None) -> tuple[bytes, str]:
    if file is None:
        here = os.path.dirname(os.path.abspath(__file__))
        with open(os.path.join(here, "sample.toml"), "rb") as handle:
            return handle.read(), "<sample>"
    if file == "-":
        if sys.stdin is None:
            raise CliError("<stdin>: there is no standard input")
        return sys.stdin.buffer.read(), "<stdin>"
    try:
        return files.read_file(file), file
    except IsADirectoryError:
        raise CliError(f"{file}: is a directory") from None
    except OSError as error:
        raise CliError(f"{file}: cannot read: {error.strerror or error}") from None


def format_for(file: str | None, given: str | None) -> str | None:
    if given is not None or file is None:
        return given or "toml"
    if file == "-":
        return None
    return files.EXTENSIONS.get(os.path.splitext(file)[1].lower())


def composing(options: Any) -> bool:
    """Several files, a question only a composed store answers, or the environment, which
    applies as overrides: one file is a composition of one, so that it gives the values that
    the same file and an empty second one give."""
    return (len(options.files) > 1 or bool(options.env) or bool(options.env_files)
            or options.secrets_dir is not None or any(kind == "origins" for kind, _ in options.shows))


def plain_will_do(options: Any) -> bool:
    """Whether the options read or set only what a plain JSON document holds as a store
    would: no merges (the store merges in its own way), no renderings of the store, and no
    underscore in what --set names or assigns."""
    return (not composing(options) and not options.resolve and options.schema is None
            and all(kind in ("set", "del") and "_" not in text and "\\u005" not in text
                    for kind, text in options.edits or [])
            and not any(kind in STORE_SHOWS for kind, _ in options.shows))


def load(options: Any) -> Any:
    """The store, or the plain document when it would answer the same."""
    file = options.files[0] if options.files else None
    data, source = read_input(file)
    plain = plain_will_do(options)
    wanted = selected_paths(options) if plain and format_for(file, options.format) == "json" else None
    if wanted is not None:
        # what the --get options select, read natively where the build can: the rest of
        # the document is checked (for a repeated key, or one a store may keep), not made
        from ._store import json_pruned

        document = json_pruned(data, wanted)
        if document is not None:
            return document
    # A key that starts with an underscore may be one the store reserves, and the store
    # must then have its say ("\u005f" is an escaped underscore; the test is on the
    # bytes, and errs on the safe side, as values may hold these too).
    underscore = b'"_' in data or b"\\u005" in data if plain else True
    text = files.decode(data, source)
    del data
    fmt, document = files.detect(text, format_for(file, options.format), source)
    del text
    if fmt == "json" and not underscore:
        return document
    from . import TarvelVar

    return files.build(TarvelVar, document, source, {})


def selected_paths(options: Any) -> list[tuple[str, ...]] | None:
    """The steps of every place the --get options may read (a variable's name, then the
    path), or () for the whole document, when they, the listings and --dict are all the
    output and nothing is changed; else None."""
    if options.edits or not options.shows:
        return None
    wanted: list[tuple[str, ...]] = []
    for kind, arg in options.shows:
        if kind in ("dict", "keys", "items", "paths") and not wanted:
            wanted.append(())  # the whole document
            continue
        if kind != "get":
            if kind not in LISTINGS or not wanted:  # a listing of what a --get selected
                return None
            continue
        if not arg.startswith("$"):
            wanted.append((arg,))
        try:
            wanted.append(tuple(paths.steps(as_path(arg)) or []))
        except paths.PathError:
            return None  # the general way says what is wrong with it
    return wanted


def compose(options: Any) -> Any:
    """The files composed in order, the environment applied as overrides."""
    from . import TarvelVar
    from .layers import Text

    sources: list[Any] = []
    for file in options.files or [None]:
        data, source = read_input(file)
        sources.append(Text(source, files.decode(data, source), format_for(file, options.format)))
    from .layers import compose as compose_layers
    from .settings import is_settings_class

    # a settings class named by --schema says how the environment's text reads; it checks
    # the store after the changes, as any schema does
    schema = load_schema(options.schema) if options.schema is not None else None
    return compose_layers(TarvelVar, sources, env=options.env, env_files=options.env_files or (),
                          secrets_dir=options.secrets_dir,
                          types=schema if is_settings_class(schema) else None)


# -- changing --------------------------------------------------------------------------------

def apply_edit(store: Any, kind: str, text: str) -> None:
    """One change, made through the store's public methods, which refuse the keys the store
    keeps for itself (a document or an option cannot reconfigure the store)."""
    if kind == "del":
        paths.remove(store, text)
        return
    if kind == "set":
        name, sep, value = text.partition("=")
        if not sep or not name:
            raise CliError(f"--set {text}: expected NAME=JSON or $.PATH=JSON")
        parsed = parse_json_arg(value, f"--set {name}")
        path: str | None
        if name.startswith("$") or (("." in name or "[" in name) and name not in store):
            path = as_path(name)  # no variable of that name: a path
            paths.assign(store, path, parsed)
        else:
            store[name] = parsed
            # a name holding a dot or a bracket has no path to be recorded under
            path = None if "." in name or "[" in name else paths.path_text((name,))
        from .origins import note_override

        note_override(store, path, text)
        return
    value = parse_json_arg(text, "--merge")
    if not isinstance(value, dict):
        raise CliError(f"--merge: expected a JSON object, not {files.kind_of(value)}")
    store.merge(value)


def as_path(name: str) -> str:
    """The "$." path a name stands for where it names no variable: itself with or without
    "$.", or jq's ".db.port"."""
    if name.startswith("$"):
        return name
    return "$" + name if name.startswith(".") else "$." + name


def parse_json_arg(text: str, where: str) -> Any:
    import json

    try:
        return json.loads(text, object_pairs_hook=files.unique_pairs)
    except json.JSONDecodeError as error:
        raise CliError(f"{where}: invalid JSON at column {error.colno}: {error.msg}") from None
    except files.DuplicateKey as error:
        raise CliError(f"{where}: duplicate key {error.args[0]!r}") from None


def load_schema(text: str) -> Any:
    """The class that `--schema module:Class` names, importable from the current directory."""
    import importlib

    module_name, sep, qualname = text.partition(":")
    if not sep or not module_name or not qualname:
        raise CliError(f"--schema {text}: expected MODULE:CLASS")
    if os.getcwd() not in sys.path:
        sys.path.append(os.getcwd())
    try:
        found: Any = importlib.import_module(module_name)
    except Exception as error:
        raise CliError(f"--schema {text}: cannot import {module_name}: {error}") from None
    for part in qualname.split("."):
        if not hasattr(found, part):
            raise CliError(f"--schema {text}: {module_name} has no {qualname}")
        found = getattr(found, part)
    return found


def check_schema(store: Any, text: str) -> Any:
    from .schemas import ValidationError

    schema = load_schema(text)
    try:
        return store.validate(schema)
    except TypeError as error:  # something pydantic cannot check against
        raise CliError(f"--schema {text}: {error}") from None
    except ValidationError as error:
        for path, message in error.errors:
            print(f"{path}: {' '.join(message.split())}", file=sys.stderr)
        raise SystemExit(2) from None


# -- printing --------------------------------------------------------------------------------

class Printer:
    """Answers the output options in order. A --get selects what --keys, --items, --paths
    and --sort after it apply to; before any, that is the whole store."""

    def __init__(self, root: Any, options: Any) -> None:
        self.root, self.options = root, options
        self.is_store = not isinstance(root, dict)
        if options.compact:
            self.indent = None
        elif options.indent is not None:
            self.indent = options.indent
        else:
            self.indent = 2 if sys.stdout.isatty() else None
        self.failed = False  # a --get that found nothing or null, for -e
        self.differs = False  # a --diff that found a difference
        self.selected: Any = root
        self.selected_path = "$"
        self.selected_place: tuple[Any, ...] = ()
        self.form = plain_form(bool(options.reveal))

    def json(self, value: Any, path: str = "$", sort: bool = False) -> str:
        return files.render(value, "json", indent=self.indent, allow_nan=self.options.allow_nan,
                            path=path, sort=sort, default=self.form, str_keys=True)

    def whole(self, sort: bool) -> dict[str, Any]:
        if self.is_store:
            return self.root._mv_to_dict(sort=sort)  # type: ignore[no-any-return]
        return dict(sorted(self.root.items())) if sort else self.root

    def plain(self, value: Any) -> Any:
        return files.plain_of(value) if self.is_store else value

    def section(self, option: str) -> Any:
        """The selection, which --keys and --items need to be a section."""
        value = self.selected
        if isinstance(value, dict) or hasattr(type(value), "_mv_keys"):
            return value
        what = "nothing" if value is paths.MISSING else files.kind_of(value)
        raise CliError(f"--{option}: {self.selected_path} is {what}, not a section")

    def show(self, kind: str, arg: str | None) -> str:
        root, options = self.root, self.options
        if kind == "get":
            assert arg is not None
            return self.get(arg)
        if kind == "keys":
            section = self.section("keys")
            names = list(section) if isinstance(section, dict) else section._mv_keys()
            return self.json(sorted(names) if options.sort else names)
        if kind == "items":
            section = self.section("items")
            pairs = section.items() if isinstance(section, dict) else section._mv_items()
            if options.sort:
                pairs = sorted(pairs, key=lambda pair: pair[0])
            return self.json([[name, self.plain(value)] for name, value in pairs])
        if kind == "paths":
            if self.selected is paths.MISSING:
                raise CliError(f"--paths: {self.selected_path} is nothing")
            return "\n".join(paths.leaf_paths(self.selected, self.selected_path))
        if kind == "origins":
            return self.origins()
        if kind == "diff":
            assert arg is not None
            return self.diff(arg)
        if kind == "params":
            return root._mv_to_params()  # type: ignore[no-any-return]
        if kind == "string":
            return root._mv_to_string()  # type: ignore[no-any-return]
        if kind == "repr":
            return repr(root)
        if kind == "to":
            assert arg is not None
            text = files.render(self.whole(False), arg, indent=self.indent, sort=options.sort,
                                allow_nan=options.allow_nan, default=self.form,
                                str_keys=True)
            return text.rstrip("\n")
        return self.json(self.whole(False), sort=options.sort)

    def compact(self, value: Any) -> str:
        return files.render(self.plain(value), "json", indent=None, allow_nan=self.options.allow_nan,
                            default=self.form, str_keys=True)

    def origins(self) -> str:
        from .origins import origin_items

        if self.selected is paths.MISSING:
            raise CliError(f"--origins: {self.selected_path} is nothing")
        selected = self.selected_place
        lines = []
        for place, path, value, where in origin_items(self.root):
            if place[:len(selected)] == selected:
                note = str(where) if where is not None else "changed after composing"
                lines.append(f"{path} = {self.compact(value)}  # {note}")
        return "\n".join(lines)

    def shown(self, value: Any) -> str:
        """A value in a diff line: as JSON, or, for one JSON has no form for (a date), its
        text and its type, so that a change of type never reads as no change."""
        plain = self.plain(value)
        if isinstance(plain, (dict, list, str, int, float, bool, type(None))):
            return self.compact(plain)
        text = plain.isoformat() if hasattr(plain, "isoformat") else str(plain)
        return f"{text} ({type(plain).__name__})"

    def diff(self, file: str) -> str:
        from .diff import MISSING, diff

        data, source = read_input(file)
        other = files.detect(files.decode(data, source), format_for(file, self.options.format), source)[1]
        lines = []
        for change in diff(self.root, other):
            if change.old is MISSING:
                lines.append(f"+ {change.path}: {self.shown(change.new)}")
            elif change.new is MISSING:
                lines.append(f"- {change.path}: {self.shown(change.old)}")
            else:
                lines.append(f"~ {change.path}: {self.shown(change.old)} -> {self.shown(change.new)}")
        self.differs = self.differs or bool(lines)
        return "\n".join(lines)

    def find(self, path: str) -> tuple[Any, tuple[Any, ...]]:
        """The value `path` names and its place: a variable of that name, else the path with
        or without "$." (or jq's ".db.port"); list items counted from the start."""
        if not path.startswith("$"):
            value = paths.lookup(self.root, path)  # a variable of that name
            if value is not paths.MISSING or not path:
                return value, (path,)
        try:
            steps = paths.steps(as_path(path)) or []
        except paths.PathError as error:
            raise CliError(str(error)) from None
        return paths.place(self.root, steps)

    def get(self, path: str) -> str:
        value, self.selected_place = self.find(path)
        self.selected = value
        self.selected_path = as_path(path) if value is paths.MISSING else paths.path_text(self.selected_place)
        if value is paths.MISSING:
            if self.options.default is not None:
                value = default_value(self.options.default)
            else:
                value = None
                if self.options.exit_status:
                    note(f"{path}: no such path" if path.startswith("$")
                         else f"{path}: no such variable or path")
        if value is None:
            self.failed = True
        if self.options.raw and isinstance(value, str):
            return value
        return self.json(self.plain(value), self.selected_path, sort=self.options.sort)


LISTINGS = {"keys", "items", "paths", "origins"}


def selections(shows: list[tuple[str, Any]]) -> list[bool]:
    """For each output option, whether it only selects: a --get followed, before the next
    --get, by a listing of what it selected (--keys, --items, --paths, --origins)."""
    selects = []
    for position, (kind, _) in enumerate(shows):
        following = []
        for later, _ in shows[position + 1:]:
            if later == "get":
                break
            following.append(later)
        selects.append(kind == "get" and any(later in LISTINGS for later in following))
    return selects


def default_value(text: str) -> Any:
    import json

    try:
        return json.loads(text)
    except json.JSONDecodeError:
        return text


def note(message: str) -> None:
    print(f"tarvel-var: {message}", file=sys.stderr)


def fail(message: str) -> NoReturn:
    print(f"tarvel-var: error: {' '.join(message.split())}", file=sys.stderr)
    raise SystemExit(2)


def run(argv: list[str] | None) -> int:
    arguments = sys.argv[1:] if argv is None else argv
    options = quick_parse(arguments) or build_parser().parse_args(arguments)
    options.shows = options.shows or [("dict", None)]
    try:
        root = compose(options) if composing(options) else load(options)
        for kind, text in options.edits or []:
            apply_edit(root, kind, text)
        if options.resolve:
            root.resolve()
        if options.schema is not None:
            root = check_schema(root, options.schema)
        printer = Printer(root, options)
        # every answer first, so that an option that fails prints nothing at all
        answers = [printer.show(kind, arg) for kind, arg in options.shows]
        write = sys.stdout.write
        try:
            for (kind, _), answer, selects in zip(options.shows, answers, selections(options.shows)):
                if selects:
                    continue
                if answer or kind not in ("diff", "origins"):  # no difference: no line at all
                    write(answer)
                    write("\n")
            sys.stdout.flush()
        except BrokenPipeError:
            raise
        except OSError as error:  # `> /dev/full`, a disk that fills up
            raise OutputError(error) from None
    except (CliError, ValueError, TypeError, files.MissingExtraError, ImportError) as error:
        # ValueError covers LoadError, DumpError, PathError, the environment's errors and
        # whatever the store refuses while it is built or changed.
        fail(str(error))
    except RecursionError:
        fail("the document is nested too deeply")
    except MemoryError:
        fail("the document does not fit in memory")
    if printer.differs:
        return 1
    return 1 if options.exit_status and printer.failed else 0


def drop_output() -> None:
    """Points standard output at nothing, so that the interpreter's last flush of what could
    not be written cannot fail again."""
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, sys.stdout.fileno())
    os.close(devnull)


def main(argv: list[str] | None = None) -> int:
    import gc

    # A document makes a great many containers and no cycles: the collector's passes over
    # them while it is parsed and built would find nothing, and take a tenth of the time.
    collecting = gc.isenabled()
    gc.disable()
    try:
        status = run(argv)
        sys.stdout.flush()
    except BrokenPipeError:
        # The reader has gone (`tarvel-var doc.json | head -1`): stop quietly.
        drop_output()
        status = BROKEN_PIPE_STATUS
    except OutputError as error:
        drop_output()
        print(f"tarvel-var: error: cannot write the output: {error}", file=sys.stderr)
        status = 2
    except KeyboardInterrupt:
        status = 130
    finally:
        if collecting:
            gc.enable()
    if argv is None:
        # Run as the program: all output is written, and freeing a large document object
        # by object before exiting would only add time (a tenth of the run on a 4.6 MB
        # file) that no one waits for.
        sys.stderr.flush()
        os._exit(status)
    return status


if __name__ == "__main__":
    sys.exit(main())

"""Signatures of pybind11 functions, read from the first line of their
docstrings, for help() and inspect.signature."""

import ast
import inspect
import re
from collections.abc import Callable
from typing import Any


class _Shown:
    """A default value or annotation displayed as the extension writes it."""

    def __init__(self, text: str) -> None:
        self.text = text

    def __repr__(self) -> str:
        return self.text


def _annotation(node: ast.expr | None) -> Any:
    return inspect.Parameter.empty if node is None else _Shown(ast.unparse(node))


def _default(node: ast.expr | None) -> Any:
    if node is None:
        return inspect.Parameter.empty
    try:
        return ast.literal_eval(node)
    except ValueError:
        return _Shown(ast.unparse(node))


def signature_of(function: Callable[..., Any]) -> tuple[inspect.Signature, str]:
    """The signature and the description of a pybind11 function, whose
    docstring is "name(arguments) -> result", a blank line, the description."""
    first, _, description = (function.__doc__ or "").partition("\n")
    # Enumeration defaults print as "<InterfaceType.USB: 0>": keep the name.
    text = re.sub(r"<([\w.]+): [^>]*>", r"\1", first)
    definition = ast.parse("def " + text + ": pass").body[0]
    assert isinstance(definition, ast.FunctionDef)
    args = definition.args
    positional = args.posonlyargs + args.args
    defaults: list[ast.expr | None] = [None] * (len(positional) - len(args.defaults)) + list(args.defaults)
    parameters = [inspect.Parameter(a.arg, inspect.Parameter.POSITIONAL_OR_KEYWORD,
                                    annotation=_annotation(a.annotation), default=_default(d))
                  for a, d in zip(positional, defaults)]
    parameters += [inspect.Parameter(a.arg, inspect.Parameter.KEYWORD_ONLY,
                                     annotation=_annotation(a.annotation), default=_default(d))
                   for a, d in zip(args.kwonlyargs, args.kw_defaults)]
    return inspect.Signature(parameters, return_annotation=_annotation(definition.returns)), description.strip()

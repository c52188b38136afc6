"""The package as installed: its type stubs name exactly what the compiled
module holds, and it says that it is typed."""

import ast
import os

import corvane
import corvane._corvane


def test_stubs_name_what_the_module_holds():
    folder = os.path.dirname(corvane.__file__)
    assert os.path.exists(os.path.join(folder, "py.typed"))
    with open(os.path.join(folder, "_corvane.pyi")) as f:
        stubs = ast.parse(f.read())
    declared = {n.name for n in stubs.body if isinstance(n, (ast.FunctionDef, ast.ClassDef))}
    declared |= {t.id for n in stubs.body if isinstance(n, ast.AnnAssign) for t in [n.target]}
    compiled = {name for name in vars(corvane._corvane) if not name.startswith("__")}
    assert declared == compiled
    for cls in [c for c in stubs.body if isinstance(c, ast.ClassDef) and not c.name.startswith("_")]:
        methods = {n.name for n in cls.body if isinstance(n, ast.FunctionDef)} - {"__init__"}
        assert methods <= set(dir(getattr(corvane._corvane, cls.name))), cls.name
    assert set(corvane.__all__) <= set(dir(corvane))

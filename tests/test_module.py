import quillmar._quillmar as qm


def test_module_imports_with_docstring():
    assert qm.__doc__.startswith("quillmar._quillmar")

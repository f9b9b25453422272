#!/usr/bin/env python3
"""validate-json.py SCHEMA DOCUMENT: exits 0 when DOCUMENT is valid against
SCHEMA (JSON Schema draft 2020-12), else prints every error and exits 1."""
import json
import sys

import jsonschema


def main():
    schema_path, document_path = sys.argv[1:3]
    with open(schema_path, encoding="utf-8") as f:
        schema = json.load(f)
    with open(document_path, encoding="utf-8") as f:
        document = json.load(f)
    validator = jsonschema.Draft202012Validator(schema)
    validator.check_schema(schema)
    errors = sorted(validator.iter_errors(document), key=lambda e: list(e.absolute_path))
    for error in errors:
        path = "$" + "".join(f"[{p!r}]" for p in error.absolute_path)
        print(f"{document_path}: {path}: {error.message}")
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())

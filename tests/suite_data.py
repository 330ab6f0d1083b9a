"""The YAML test suite's cases, for the sweeps over it.

The suite lives beside the repository (../shared/testdata/yaml-test-suite);
without it `suite_cases()` is empty and the sweeps skip.  A case is a folder
holding in.yaml: a top-level folder named by the case id ("229Q"), or a
numbered subfolder of one ("DK95/03").  The suite's name/ and tags/ folders
(links onto the cases, by title and by tag) and every symbolic link are
passed over, and a folder reached twice counts once, so each case appears
exactly once and lists keyed by case id stay right.
"""

import pathlib

SUITE = pathlib.Path(__file__).resolve().parents[1].parent / "shared" / "testdata" / "yaml-test-suite"


def _case_folders(folder):
    return sorted(p for p in folder.iterdir() if not p.is_symlink() and p.is_dir())


def suite_cases(root=SUITE):
    """(case id, case folder) of every case, sorted by id; [] without the suite."""
    if not root.is_dir():
        return []
    cases, seen = [], set()

    def add(case_id, folder):
        if not (folder / "in.yaml").is_file():
            return False
        real = folder.resolve()
        if real not in seen:
            seen.add(real)
            cases.append((case_id, folder))
        return True

    for top in _case_folders(root):
        if top.name in ("name", "tags") or add(top.name, top):
            continue
        for sub in _case_folders(top):
            add(f"{top.name}/{sub.name}", sub)
    return sorted(cases)

// Test driver: starts an embedded interpreter (with the package sources on
// sys.path) for the tests that touch the Python side, then runs every test.
#include <Python.h>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  Py_InitializeEx(0);
  PyRun_SimpleString("import sys; sys.path.insert(0, '" KESTRINE_PYTHON_DIR "')");
  int rc = RUN_ALL_TESTS();
  if (Py_FinalizeEx() < 0 && rc == 0) rc = 1;
  return rc;
}

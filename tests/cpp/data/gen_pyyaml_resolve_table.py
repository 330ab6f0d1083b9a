# Regenerate with: python3 tests/cpp/data/gen_pyyaml_resolve_table.py
# Generates pyyaml_resolve_table.tsv: how PyYAML's SafeLoader reads plain
# scalars.  Columns: text, tag (short name), value (repr for numbers).
import math
import yaml

words = """y Y yes Yes YES yEs n N no No NO on On ON oN off Off OFF oFF true True TRUE tRUE
false False FALSE fALSE null Null NULL nULL ~ <<""".split()
ints = """0 00 007 010 08 09 0o10 0o17 0x1F 0x1f 0X1F -0x1F +0x1F 0x_FF 0x 0b 0b1010 -0b11 +0b1 0b102
1_000 _1 1_ -_1 +_1 __1 1__0 123 +123 -123 ++1 +-1 - + . _ 9223372036854775807 9223372036854775808
-9223372036854775808 -9223372036854775809 0xFFFFFFFFFFFFFFFF 0x7FFFFFFFFFFFFFFF 0x8000000000000000
18446744073709551616 +18446744073709551616 1:30 190:20:30 -1:30 +1:30 0:30 1:60 1:59 1:005 1::2 :30 1:
1:3 1:03 1_0:30 99999999999999999999:30 12:30:45 0777 -0777 0_7 0b_1 0x_ 0b_""".split()
floats = """1.0 1. .5 -.5 +.5 1e5 1E5 1e+5 1e-5 1.0e5 1.0e+5 1.0E-5 1.0e 1e .e5 . 1_000.5 1.5_5
.inf .Inf .INF +.inf -.inf -.Inf .iNF .nan .NaN .NAN -.nan inf nan Infinity -inf 1:30.5 1:60.5
-1:30.5 1:30.5.5 190:20:30.15 1.5:30 1:30:.5 0:30.5 --1:30.5 1e2:30.5 +inf:30.5 +1:30.5
1__0.5 _1.5 1.5e+3 1.5e3 -1.5e-3 6.02e+23 1e400 -1e400 1e-400 0.1 00.1 01.5 1.5e+ 1.5e+x 0.5e-0""".split()
stamps = """2002-12-14 2002-1-5 2001-12-14t21:59:43.10-05:00 2001-12-15T02:59:43.1Z 2001-12-14T21:59:43Z
2001-12-15 2001-12-14T21:59:43+05:30 2001-12-14T21:59:43.1234567 2000-02-29 2001-12-14T21:59:43+0530""".split()
texts = words + ints + floats + stamps
loader = yaml.SafeLoader("")
short = {yaml.resolver.BaseResolver.DEFAULT_SCALAR_TAG: "str"}
import os
out_path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "pyyaml_resolve_table.tsv")
with open(out_path, "w") as f:
    f.write("# How PyYAML %s (SafeLoader) reads each text as a plain scalar.\n" % yaml.__version__)
    f.write("# text<TAB>tag<TAB>value (int: decimal, float: repr, bool: true/false)\n")
    for t in texts:
        tag = loader.resolve(yaml.ScalarNode, t, (True, False))
        name = tag.rsplit(":", 1)[1]
        node = yaml.ScalarNode(tag, t)
        try:
            v = loader.construct_object(node, deep=True)
        except Exception as e:
            v = "ERROR"
        if name == "bool":
            v = "true" if v else "false"
        elif name == "float":
            v = "nan" if math.isnan(v) else repr(v)
        elif name in ("null", "str", "merge") or v == "ERROR":
            v = ""
        f.write("%s\t%s\t%s\n" % (t, name, v))

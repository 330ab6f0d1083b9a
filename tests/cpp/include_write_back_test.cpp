// The write-back plan: which text goes to which file when a file is included
// more than once, and the edits no file can hold.
#include <functional>
#include <map>

#include "include/write_back.hpp"
#include "include_support.hpp"

namespace kestrine {
namespace {

using testing::TempTree;

// main: {a: <x.yaml>, b: <x.yaml>, c: <y.yaml>, s: !secret k, e: !env_var HOME}
DocumentRecord loaded(const TempTree& tree) {
  tree.write("root/x.yaml", "v: 1  # kept\n");
  tree.write("root/y.yaml", "[y]\n");
  tree.write("root/secrets.yaml", "k: {v: 1}\n");
  testing::Expansion e = testing::expand(
      tree.path("root"), "a: !include x.yaml\nb: !include x.yaml\nc: !include y.yaml\ns: !secret k\ne: !env_var HOME\n",
      {true, true, true});
  EXPECT_TRUE(e.roots) << e.roots.error().message;
  DocumentRecord doc;
  doc.roots = std::move(*e.roots);
  doc.source_names = std::move(e.sources.names);
  doc.source_texts = std::move(e.sources.texts);
  doc.include_root = std::move(e.sources.include_root);
  return doc;
}

YamlNode& value_of(YamlNode& mapping, std::string_view key) {
  for (NodePair& pair : mapping.pairs_mut())
    if (pair.key.text() == key) return pair.value;
  ADD_FAILURE() << "no key " << key;
  return mapping;
}

void edit(YamlNode& node, std::string_view text) {
  node.set_scalar(text, ScalarStyle::Plain);
  node.comments.modified = true;
}

TEST(IncludeWriteBack, PlanOfFilesIncludedMoreThanOnce) {
  using Edit = std::function<void(YamlNode&)>;
  const auto edit_v = [](std::string_view key, std::string_view text) {
    return [=](YamlNode& root) { edit(value_of(value_of(root, key), "v"), text); };
  };
  const std::string read_x = "v: 1  # kept\n", read_y = "[y]\n";
  const struct {
    std::vector<Edit> edits;
    std::map<std::string, std::string> all;     // file -> text, every included file
    std::map<std::string, std::string> edited;  // file -> text, edited files only
    std::string error;
  } cases[] = {
      {{}, {{"x.yaml", read_x}, {"y.yaml", read_y}}, {}, ""},
      // Each include reads the file again: an edit of one alone is refused;
      // the same edit at both is one file.
      {{edit_v("b", "2")}, {}, {},
       "'{root}/x.yaml' is included more than once and edited at only some of those places; write-back cannot "
       "store two different versions of one file"},
      {{edit_v("a", "2"), edit_v("b", "2")}, {{"x.yaml", "v: 2  # kept\n"}, {"y.yaml", read_y}},
       {{"x.yaml", "v: 2  # kept\n"}}, ""},
      // An edit that writes the text as read changes nothing the other reads.
      {{edit_v("b", "1")}, {{"x.yaml", read_x}, {"y.yaml", read_y}}, {{"x.yaml", read_x}}, ""},
      {{edit_v("a", "2"), edit_v("b", "3")}, {}, {},
       "'{root}/x.yaml' is included more than once with conflicting edits; write-back cannot store two different "
       "versions of one file"},
      {{edit_v("s", "2")}, {}, {},
       "cannot write back the edit at $.s: it lies under '!secret k', which names no single file to hold it"},
      {{[](YamlNode& root) {
         YamlNode& e = value_of(root, "e");
         e.set_scalar("/elsewhere", ScalarStyle::Plain);
         set_content_modified(e, true);
       }},
       {},
       {},
       "cannot write back the edit at $.e: it lies under '!env_var HOME', which names no single file to hold it"},
      // Where the file's first document ends is not known: its later
      // documents could not be kept.
      {{[](YamlNode& root) {
         YamlNode& a = value_of(root, "a");
         IncludeSource source = *a.source();
         source.later_text = IncludeSource::kUnknownOffset;
         a.set_source(std::move(source));
         edit(value_of(a, "v"), "2");
       }},
       {},
       {},
       "cannot write back {root}/x.yaml: its edited first document cannot be written before the documents that "
       "follow it without changing them"},
      // A directive's own flag marks the directive, in the file naming it.
      {{[](YamlNode& root) { value_of(root, "s").comments.modified = value_of(root, "a").comments.modified = true; }},
       {{"x.yaml", read_x}, {"y.yaml", read_y}},
       {},
       ""},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    TempTree tree;
    DocumentRecord doc = loaded(tree);
    for (const Edit& e : cases[i].edits) e(doc.roots.front());
    const std::string root = tree.path("root");
    for (const WriteBackScope scope : {WriteBackScope::AllIncludedFiles, WriteBackScope::EditedFiles}) {
      auto plan = plan_write_back(doc, scope);
      if (!cases[i].error.empty()) {
        ASSERT_FALSE(plan) << i;
        std::string expected = cases[i].error;
        if (const std::size_t at = expected.find("{root}"); at != std::string::npos) expected.replace(at, 6, root);
        EXPECT_EQ(plan.error().message, expected) << i;
        continue;
      }
      ASSERT_TRUE(plan) << i << ": " << plan.error().message;
      std::map<std::string, std::string> got;
      for (const PlannedFile& file : plan->files) got[file.path.substr(root.size() + 1)] = file.text();
      EXPECT_EQ(got, scope == WriteBackScope::EditedFiles ? cases[i].edited : cases[i].all) << i;
    }
  }
}

TEST(IncludeWriteBack, AFirstDocumentThatWouldRunIntoTheNextIsRefused) {
  TempTree tree;
  tree.write("root/m.yaml", "a: 1\n\n---\nz: 2\n");
  testing::Expansion e = testing::expand(tree.path("root"), "m: !include m.yaml\n", {true, false, false});
  ASSERT_TRUE(e.roots) << e.roots.error().message;
  DocumentRecord doc;
  doc.roots = std::move(*e.roots);
  doc.source_names = std::move(e.sources.names);
  doc.source_texts = std::move(e.sources.texts);
  YamlNode& a = value_of(value_of(doc.roots.front(), "m"), "a");
  edit(a, "2");
  auto plan = plan_write_back(doc, WriteBackScope::EditedFiles);
  ASSERT_TRUE(plan) << plan.error().message;
  EXPECT_EQ(plan->files.at(0).text(), "a: 2\n\n---\nz: 2\n");
  // A block scalar that keeps its final line breaks would take the blank
  // line before the next document as its own.
  a.set_scalar("x\n\n", ScalarStyle::Literal);
  plan = plan_write_back(doc, WriteBackScope::EditedFiles);
  ASSERT_FALSE(plan);
  EXPECT_EQ(plan.error().kind, WriteBackError::Kind::LaterDocuments);
}

TEST(IncludeWriteBack, SaveReplacesTheEditedFilesAndTheRootFileTogether) {
  TempTree tree;
  DocumentRecord doc = loaded(tree);
  for (const std::string_view key : {"a", "b"}) edit(value_of(value_of(doc.roots.front(), key), "v"), "2");
  // The root file cannot be staged: nothing is replaced.
  auto failed = save_document_files(doc, RootFile{tree.path("gone/main.yaml"), "main\n"});
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().message, "cannot write " + tree.path("gone/main.yaml") + ": No such file or directory");
  auto unchanged = testing::expand(tree.path("root"), "!include x.yaml\n");
  EXPECT_EQ(unchanged.sources.texts.back(), "v: 1  # kept\n");

  auto written = save_document_files(doc, RootFile{tree.path("main.yaml"), "main\n"});
  ASSERT_TRUE(written) << written.error().message;
  EXPECT_EQ(*written, (std::vector<std::string>{tree.path("root/x.yaml"), tree.path("main.yaml")}));
  EXPECT_EQ(testing::expand(tree.path("root"), "!include x.yaml\n").sources.texts.back(), "v: 2  # kept\n");

  DocumentRecord plain;  // loaded without includes: the root file alone
  EXPECT_EQ(save_document_files(plain, std::nullopt).value(), std::vector<std::string>{});
}

}  // namespace
}  // namespace kestrine

// Child lists placed in shared arena chunks: every list keeps its memory
// alive wherever it goes (run under AddressSanitizer, a list that outlived
// its chunk would be reported), and lists behave as vectors when edited.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "roundtrip/compose/composer.hpp"
#include "roundtrip/tree/ast.hpp"
#include "roundtrip/tree/node_list.hpp"
#include "roundtrip_test_util.hpp"

namespace kestrine {
namespace {

using testing::root_of;

std::string big_mapping_text(int entries) {
  std::string text;
  for (int i = 0; i < entries; ++i)
    text += "k" + std::to_string(i) + ": {a: " + std::to_string(i) + ", b: [x, y]}\n";
  return text;
}

TEST(RoundtripNodeList, SubtreesOutliveTheTreeTheyCameFrom) {
  // Large enough that the later lists lie in chunks mapped from the system.
  YamlNode kept;
  YamlNode late;
  YamlNode copied;
  {
    YamlNode root = root_of(big_mapping_text(20000));
    kept = std::move(root.pairs_mut()[1500].value);
    late = std::move(root.pairs_mut()[19000].value);
    copied = root.pairs()[7].value;
  }  // the rest of the tree, and the composer's arena, are gone
  ASSERT_TRUE(kept.is_mapping());
  EXPECT_EQ(kept.pairs()[0].value.text(), "1500");
  EXPECT_EQ(kept.pairs()[1].value.items()[1].text(), "y");
  EXPECT_EQ(late.pairs()[0].value.text(), "19000");
  EXPECT_EQ(copied.pairs()[0].value.text(), "7");
}

TEST(RoundtripNodeList, DocumentsOfOneStreamAreReleasedInAnyOrderAndThread) {
  std::string text;
  for (int d = 0; d < 6; ++d) text += "---\n" + big_mapping_text(300);
  auto roots = parse_roundtrip(text);
  ASSERT_TRUE(roots.has_value());
  ASSERT_EQ(roots->size(), 6u);
  // Lists of every document share chunks; drop them out of order, some on
  // other threads.
  std::vector<YamlNode> docs = std::move(*roots);
  std::thread t1([d = std::move(docs[3])]() mutable { drop_node_tree(std::move(d)); });
  drop_node_tree(std::move(docs[0]));
  std::thread t2([d = std::move(docs[5])]() mutable { drop_node_tree(std::move(d)); });
  drop_node_tree(std::move(docs[1]));
  t1.join();
  t2.join();
  EXPECT_EQ(docs[2].pairs()[299].value.pairs()[0].value.text(), "299");
  EXPECT_EQ(docs[4].size(), 300u);
}

TEST(RoundtripNodeList, SubtreesReleasedOneByOneWhileTheRestOfTheTreeIsRead) {
  // As a conversion frees what it converted: every other subtree goes while
  // its neighbours, whose lists share its chunks, are still read.
  YamlNode root = root_of(big_mapping_text(6000));
  for (std::size_t i = 0; i < root.size(); i += 2) {
    drop_node_tree(std::move(root.pairs_mut()[i].value));
    EXPECT_EQ(root.pairs()[i + 1].value.pairs()[1].value.items()[1].text(), "y");
  }
  EXPECT_EQ(root.pairs()[5999].value.pairs()[0].value.text(), "5999");
}

TEST(RoundtripNodeList, ChunksOfTreesDroppedWholeServeLaterStreams) {
  // Lists past the heap chunks, in huge chunks where the system offers
  // them; each tree dropped whole hands its chunks to the next, on two
  // threads at once.  Every tree reads back as it was composed.
  const std::string text = big_mapping_text(40000);
  auto rounds = [&] {
    for (int round = 0; round < 3; ++round) {
      YamlNode root = root_of(text);
      EXPECT_EQ(root.pairs()[39999].value.pairs()[0].value.text(), "39999");
      EXPECT_EQ(root.pairs()[20000].value.pairs()[1].value.items()[1].text(), "y");
      const KeepReleasedChunks keep;
      drop_node_tree(std::move(root));
    }
  };
  std::thread other(rounds);
  rounds();
  other.join();
}

TEST(RoundtripNodeList, ListsInChunksGrowShrinkAndEditLikeVectors) {
  YamlNode root = root_of("a: [1, 2, 3]\nb: {x: 1}\n");
  NodeList<YamlNode>& items = root.pairs_mut()[0].value.items_mut();
  // Grows beyond the place it was given in a chunk.
  for (int i = 4; i <= 40; ++i) items.push_back(YamlNode::scalar(std::to_string(i)));
  ASSERT_EQ(items.size(), 40u);
  EXPECT_EQ(items[0].text(), "1");
  EXPECT_EQ(items[39].text(), "40");
  items.insert(items.begin() + 1, YamlNode::scalar("inserted"));
  EXPECT_EQ(items[1].text(), "inserted");
  EXPECT_EQ(items[2].text(), "2");
  items.erase(items.begin(), items.begin() + 2);
  EXPECT_EQ(items.size(), 39u);
  EXPECT_EQ(items.front().text(), "2");
  items.pop_back();
  items.shrink_to_fit();
  EXPECT_EQ(items.capacity(), items.size());
  EXPECT_EQ(items.back().text(), "39");
  // An element appended from the list itself while it moves.
  NodeList<YamlNode> own;
  own.push_back(YamlNode::scalar("first"));
  for (int i = 0; i < 10; ++i) own.push_back(own[0]);
  EXPECT_EQ(own[10].text(), "first");

  // Copies own their storage; the original stays as it was.
  NodeList<NodePair> pairs = root.pairs_mut()[1].value.pairs_mut();
  pairs.clear();
  EXPECT_TRUE(pairs.empty());
  EXPECT_EQ(root.pairs()[1].value.pairs()[0].key.text(), "x");
}

TEST(RoundtripNodeList, ArenaHandsOutAlignedBlocksAndLargeOnesFromTheHeap) {
  ListArena arena;
  NodeList<NodePair> a;
  NodeList<YamlNode> b;
  NodeList<YamlNode> large;
  a.reserve_in(arena, 3);
  b.reserve_in(arena, 5);
  large.reserve_in(arena, 100000);
  for (int i = 0; i < 3; ++i) a.emplace_back();
  for (int i = 0; i < 5; ++i) b.push_back(YamlNode::scalar(std::string(40, 'x')));
  large.push_back(YamlNode::scalar("y"));
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a.data()) % alignof(NodePair), 0u);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b.data()) % alignof(YamlNode), 0u);
  EXPECT_EQ(b[4].text(), std::string(40, 'x'));
  EXPECT_EQ(large.capacity(), 100000u);
}

}  // namespace
}  // namespace kestrine

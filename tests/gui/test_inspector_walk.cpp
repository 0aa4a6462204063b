// The B-tree display's walk on its own thread: what it finds reaches this (the
// GUI) thread only, a stop ends it and is waited for, nothing it posted
// afterwards is delivered, and a damaged tree ends with a message. These tests
// also run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "gui/inspector/btree_view.h"
#include "gui/inspector/btree_walk_job.h"
#include "gui/inspector/inspect_images.h"
#include "gui/inspector/sectorkind.h"
#include "gui/inspector/volume_headers.h"

namespace {

// The GUI thread's queue, as the framework's CallAfter would fill it.
struct Queue {
  std::mutex lock;
  std::condition_variable wake;
  std::deque<std::function<void()>> work;
  void post(std::function<void()> w) {
    std::lock_guard<std::mutex> l(lock);
    work.push_back(std::move(w));
    wake.notify_one();
  }
  // Runs posted work until done() holds; false when the time is up.
  bool run(const std::function<bool()>& done, int ms = 60000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
      std::function<void()> w;
      {
        std::unique_lock<std::mutex> l(lock);
        if (!wake.wait_until(l, end, [this] { return !work.empty(); })) return false;
        w = std::move(work.front());
        work.pop_front();
      }
      w();
    }
    return true;
  }
  void drain() {
    run([this] {
      std::lock_guard<std::mutex> l(lock);
      return work.empty();
    }, 1000);
  }
};

// An engine-made HFS+ image of 3,000 files (a tree of three levels), its
// catalog's header node (the catalog lies in several extents, which the walk
// follows) and a reader over the image file.
struct Catalog {
  inspimg::PlusImage image{3000};
  SectorReader read;
  BTreeWalkSetup setup;
  uint32_t leaf_records = 0;
  Catalog() {
    int64_t sectors = 0;
    read = inspimg::file_reader(image.img, &sectors);
    InspectorContext ctx;
    ctx.image_sectors = sectors;
    std::vector<uint8_t> vh = inspimg::sector_of(read, 66);
    StructureView v = view_hfsplus_header(vh, 66, ctx, read);
    int64_t header = -1;
    for (const GoTarget& g : v.gos)
      if (g.caption_id == k_txt_hfsplus_catalog) header = g.sector;
    std::vector<uint8_t> node = inspimg::sector_of(read, header);
    view_btree_header(node, header, ctx);
    setup = btree_walk_setup(node, header, ctx.node_runs);
    leaf_records = uint32_t(std::stoul(inspimg::field(view_btree_header(node, header, ctx), 3857)));
  }
};

const Catalog& catalog() {
  static Catalog c;
  return c;
}

// How a walk that delivers nothing ended: its result (99 when it did not end
// within ten seconds) and its message.
struct WalkEnd {
  int result = 99;
  std::string message;
};
WalkEnd walk_to_end(const BTreeWalkSetup& setup, const SectorReader& read) {
  Queue q;
  WalkEnd end;
  BTreeWalkJob job(setup, read, nullptr,
                   [&](int rc, const std::string& m) {
                     end.result = rc;
                     end.message = m;
                   },
                   [&](std::function<void()> w) { q.post(std::move(w)); });
  EXPECT_TRUE(job.start());
  EXPECT_TRUE(q.run([&] { return end.result != 99; }, 10000));
  return end;
}

}  // namespace

TEST(InspectorWalkThreads, WalkDeliversEveryRecordOnTheGuiThread) {
  ASSERT_EQ(catalog().image.rc, 0);
  Queue q;
  const std::thread::id gui = std::this_thread::get_id();
  bool off_thread = false, done = false;
  int result = 99;
  size_t leaves = 0, nodes = 0;
  BTreeWalkJob job(
      catalog().setup, catalog().read,
      [&](const BTreeWalkNode& n) {
        off_thread = off_thread || std::this_thread::get_id() != gui;
        ++nodes;
        if (n.level == 1) leaves += n.items.size();
      },
      [&](int rc, const std::string&) {
        off_thread = off_thread || std::this_thread::get_id() != gui;
        result = rc;
        done = true;
      },
      [&](std::function<void()> w) { q.post(std::move(w)); });
  EXPECT_GE(catalog().setup.height, 3u);
  EXPECT_GT(catalog().setup.runs.size(), 1u);
  EXPECT_FALSE(job.running());
  ASSERT_TRUE(job.start());
  EXPECT_FALSE(job.start()) << "a walk runs once";
  EXPECT_TRUE(job.running());
  ASSERT_TRUE(q.run([&] { return done; }));
  EXPECT_FALSE(job.running());
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(off_thread) << "a sink ran off the GUI thread";
  EXPECT_GT(nodes, 100u);
  EXPECT_EQ(leaves, catalog().leaf_records);
}

TEST(InspectorWalkThreads, StopJoinsAndDropsWhatWasPosted) {
  ASSERT_EQ(catalog().image.rc, 0);
  Queue q;
  int nodes_after_stop = 0, done_calls = 0;
  bool stopped = false, first = false;
  auto job = std::make_unique<BTreeWalkJob>(
      catalog().setup, catalog().read,
      [&](const BTreeWalkNode&) {
        first = true;
        if (stopped) ++nodes_after_stop;
      },
      [&](int, const std::string&) { ++done_calls; }, [&](std::function<void()> w) { q.post(std::move(w)); });
  ASSERT_TRUE(job->start());
  // Stopped once its first node has reached this thread, whatever the pace of the two.
  ASSERT_TRUE(q.run([&] { return first; }));
  job->stop_and_join();
  stopped = true;
  EXPECT_FALSE(job->running());
  q.drain();
  EXPECT_EQ(nodes_after_stop, 0);
  EXPECT_EQ(done_calls, 0);

  // Closing the form while the walk runs: the job goes, its thread is joined,
  // and what it had posted finds nobody.
  auto second = std::make_unique<BTreeWalkJob>(
      catalog().setup, catalog().read, [&](const BTreeWalkNode&) { ++nodes_after_stop; },
      [&](int, const std::string&) { ++done_calls; }, [&](std::function<void()> w) { q.post(std::move(w)); });
  ASSERT_TRUE(second->start());
  second.reset();
  q.drain();
  EXPECT_EQ(nodes_after_stop, 0);
  EXPECT_EQ(done_calls, 0);
}

TEST(InspectorWalkThreads, DamagedTreesEndWithAMessage) {
  ASSERT_EQ(catalog().image.rc, 0);
  // A node size of 0, and a height the walk refuses: ended before any read.
  for (auto bad : {std::make_pair(0u, 2u), std::make_pair(4096u, 60000u)}) {
    BTreeWalkSetup s = catalog().setup;
    s.node_size = bad.first;
    s.height = bad.second;
    WalkEnd end = walk_to_end(s, catalog().read);
    EXPECT_EQ(end.result, -1);
    EXPECT_FALSE(end.message.empty());
  }
  // A tree whose root is its own child: a node reached twice ends the walk.
  const uint32_t ns = 512;
  std::vector<uint8_t> tree(3 * ns, 0);
  tree[8] = 1;  // header node: root 1, height 2, 3 nodes
  tree[14 + 1] = 2;
  tree[14 + 5] = 1;
  tree[14 + 18] = ns >> 8;
  tree[14 + 25] = 3;
  uint8_t* root = tree.data() + ns;
  root[8] = 0;  // index node, height 2, one record
  root[9] = 2;
  root[11] = 1;
  // HFS index record: key length 37, parent 1, empty name, child node 1.
  root[14] = 37;
  root[14 + 5] = 1;
  root[14 + 38 + 3] = 1;
  root[ns - 2] = 0;
  root[ns - 1] = 14;
  root[ns - 3] = 14 + 42;
  SectorReader mem = [&](int64_t first, uint32_t count, uint8_t* buf) -> int {
    if (first < 0 || uint64_t(first + count) * 512 > tree.size()) return -1;
    std::copy_n(tree.data() + first * 512, size_t(count) * 512, buf);
    return 0;
  };
  WalkEnd end = walk_to_end(btree_walk_setup(tree, 0), mem);
  EXPECT_EQ(end.result, -1);
  EXPECT_NE(end.message.find("twice"), std::string::npos) << end.message;
}

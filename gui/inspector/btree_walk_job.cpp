#include "gui/inspector/btree_walk_job.h"

BTreeWalkJob::BTreeWalkJob(BTreeWalkSetup setup, SectorReader read, NodeSink on_node, DoneSink on_done, Poster post)
    : setup_(setup), read_(std::move(read)), post_(std::move(post)), state_(std::make_shared<State>()) {
  state_->on_node = std::move(on_node);
  state_->on_done = std::move(on_done);
}

BTreeWalkJob::~BTreeWalkJob() { stop_and_join(); }

bool BTreeWalkJob::start() {
  if (started_) return false;
  started_ = true;
  state_->running = true;
  std::shared_ptr<State> st = state_;
  thread_ = std::thread([st, setup = setup_, read = read_, post = post_] {
    std::string message;
    int rc = walk_btree(setup, read, st->stop,
                        [&](const BTreeWalkNode& node) {
                          post([st, node] {
                            if (!st->dropped && st->on_node) st->on_node(node);
                          });
                        },
                        message);
    post([st, rc, message] {
      st->running = false;
      if (!st->dropped && st->on_done) st->on_done(rc, message);
    });
  });
  return true;
}

void BTreeWalkJob::stop_and_join() {
  state_->dropped = true;
  state_->stop = true;
  if (thread_.joinable()) thread_.join();
  state_->running = false;
}

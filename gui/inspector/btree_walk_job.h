// The walk of a whole B-tree on a thread of its own, for the header node
// viewer's display. The walk reads only through its reader and touches no
// global state; what it finds goes to the GUI thread (through the poster) one
// node at a time, then its end. Stopping sets a flag the walk checks at each
// node, and joins the thread; after it no sink is called any more.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "gui/inspector/btree_view.h"

class BTreeWalkJob {
 public:
  // Both run on the GUI thread (where the poster carries them).
  using NodeSink = std::function<void(const BTreeWalkNode&)>;
  using DoneSink = std::function<void(int result, const std::string& message)>;
  using Poster = std::function<void(std::function<void()>)>;

  BTreeWalkJob(BTreeWalkSetup setup, SectorReader read, NodeSink on_node, DoneSink on_done, Poster post);
  ~BTreeWalkJob();  // stops and joins
  BTreeWalkJob(const BTreeWalkJob&) = delete;
  BTreeWalkJob& operator=(const BTreeWalkJob&) = delete;

  // Starts the walk (once); false when it was started before.
  bool start();
  // Asks the walk to stop and waits for its thread; the sinks are dropped
  // first, so what the walk still posts is thrown away. Call on the GUI thread.
  void stop_and_join();
  // True from start until the walk's end has been handed to the GUI thread.
  bool running() const { return state_->running.load(); }

 private:
  struct State {
    std::atomic<bool> stop{false};
    std::atomic<bool> running{false};
    bool dropped = false;  // GUI thread only
    NodeSink on_node;
    DoneSink on_done;
  };
  BTreeWalkSetup setup_;
  SectorReader read_;
  Poster post_;
  std::shared_ptr<State> state_;
  std::thread thread_;
  bool started_ = false;
};

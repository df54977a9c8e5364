// Weak references: a cleared counter, and AddRefLock racing the final release of an object that keeps the protocol.
#include <hux/object/weak_ptr.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace hux {
namespace {

std::atomic<int> g_live{0};
std::atomic<int> g_liveCounters{0};

class CountedCounter : public CWeakPtrCounter {
 public:
  explicit CountedCounter(const CReferenced* object) : CWeakPtrCounter(object) { ++g_liveCounters; }

 protected:
  ~CountedCounter() override { --g_liveCounters; }
};

// Keeps the protocol: its references go through the counter.
class Watched : public CReferenced {
 public:
  Watched() : m_pWeak(new CountedCounter(this)) {
    m_pWeak->Ref();
    ++g_live;
  }
  void Ref() override { m_pWeak->RefObserved(); }
  void Unref() override { m_pWeak->UnrefObserved(); }
  CWeakPtrCounter* Weak() const { return m_pWeak; }
  bool Alive() const { return m_marker == kAlive; }

 protected:
  ~Watched() override {
    m_marker = 0;
    --g_live;
    m_pWeak->Unref();
  }

 private:
  static constexpr unsigned kAlive = 0xA11FE;
  unsigned m_marker = kAlive;
  CWeakPtrCounter* m_pWeak;
};

TEST(WeakPtrCounter, ClearedCounterHandsOutNothing) {
  struct Plain : CReferenced {};
  Plain* object = new Plain;
  object->Ref();
  CWeakPtrCounter* weak = new CWeakPtrCounter(object);
  weak->Ref();
  EXPECT_EQ(weak->AddRefLock(), object);
  weak->ClearObservedObject();
  EXPECT_EQ(weak->AddRefLock(), nullptr);
  EXPECT_EQ(object->ReferenceCount(), 2);
  object->Unref();
  object->Unref();
  weak->Unref();
}

// With `readersOwnCounter` the last holder of the counter, on any thread, destroys it.
TEST(WeakPtrRace, AddRefLockAgainstTheFinalRelease) {
  constexpr int kRounds = 150;
  constexpr int kReaders = 2;
  for (bool readersOwnCounter : {false, true}) {
    std::atomic<int> handedOut{0}, bad{0};
    for (int round = 0; round < kRounds; ++round) {
      Watched* object = new Watched;
      object->Ref();
      CWeakPtrCounter* weak = object->Weak();
      weak->Ref();
      std::atomic<int> started{0};
      std::atomic<bool> anyGot{false};
      auto startTogether = [&] {
        ++started;
        while (started.load() <= kReaders) std::this_thread::yield();
      };
      std::vector<std::thread> threads;
      for (int r = 0; r < kReaders; ++r) {
        threads.emplace_back([&] {
          if (readersOwnCounter) weak->Ref();
          startTogether();
          while (CReferenced* p = weak->AddRefLock()) {
            bad += !static_cast<Watched*>(p)->Alive();
            ++handedOut;
            anyGot.store(true);
            p->Unref();  // may be the final one
          }
          if (readersOwnCounter) weak->Unref();
        });
      }
      threads.emplace_back([&, round] {
        startTogether();
        // Every other round waits for a reader's reference, whatever the scheduling.
        while (round % 2 && !anyGot.load()) std::this_thread::yield();
        std::atomic<int> spin{0};
        while (spin.fetch_add(1, std::memory_order_relaxed) < round % 64) {
        }
        object->Unref();
      });
      if (readersOwnCounter) {
        while (started.load() <= kReaders) std::this_thread::yield();
        weak->Unref();
      }
      for (std::thread& t : threads) t.join();
      ASSERT_EQ(g_live.load(), 0) << "round " << round;
      if (!readersOwnCounter) {
        EXPECT_EQ(weak->AddRefLock(), nullptr);
        EXPECT_EQ(weak->ReferenceCount(), 1);
        weak->Unref();
      }
      ASSERT_EQ(g_liveCounters.load(), 0) << "round " << round;
    }
    EXPECT_EQ(bad.load(), 0) << readersOwnCounter;
    EXPECT_GT(handedOut.load(), 0) << readersOwnCounter;
  }
}

}  // namespace
}  // namespace hux

// Weak references: AddRefLock on plain objects, the owner's protocol, and
// AddRefLock racing the final release of the observed object on another
// thread. With the protocol kept, no AddRefLock may touch freed memory or hand
// out a dead object: AddressSanitizer and ThreadSanitizer check the memory
// side, the live count and the object's marker the rest.
#include <hux/object/weak_ptr.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace hux {
namespace {

std::atomic<int> g_live{0};
std::atomic<int> g_liveCounters{0};

// An ordinary reference-counted object, not keeping the protocol.
class Plain : public CReferenced {
 public:
  Plain() { ++g_live; }

 protected:
  ~Plain() override { --g_live; }
};

class CountedCounter : public CWeakPtrCounter {
 public:
  explicit CountedCounter(const CReferenced* object) : CWeakPtrCounter(object) { ++g_liveCounters; }

 protected:
  ~CountedCounter() override { --g_liveCounters; }
};

// An object that keeps the protocol, as the header's example does.
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

TEST(WeakPtrCounter, AddRefLockOnPlainObjects) {
  Plain* object = new Plain;
  CWeakPtrCounter* weak = new CWeakPtrCounter(object);
  weak->Ref();
  // Count 0: unowned, so no reference is handed out, and nothing is deleted.
  EXPECT_EQ(weak->AddRefLock(), nullptr);
  EXPECT_EQ(g_live.load(), 1);
  object->Ref();
  object->Ref();
  EXPECT_EQ(weak->AddRefLock(), object);
  EXPECT_EQ(object->ReferenceCount(), 3);
  weak->ClearObservedObject();
  EXPECT_EQ(weak->AddRefLock(), nullptr);
  EXPECT_EQ(object->ReferenceCount(), 3);  // the object itself is not touched
  for (int i = 0; i < 3; ++i) object->Unref();
  weak->Unref();
}

TEST(WeakPtrCounter, ProtocolStopsObservingAtTheFinalRelease) {
  Watched* object = new Watched;
  CWeakPtrCounter* weak = object->Weak();
  weak->Ref();  // a weak holder
  object->Ref();
  weak->RefObserved();
  EXPECT_FALSE(weak->UnrefObserved()) << "not the final release";
  EXPECT_EQ(weak->GetObserverdObject(), object);
  EXPECT_TRUE(weak->UnrefObserved()) << "the last reference: cleared, then destroyed";
  EXPECT_EQ(g_live.load(), 0);
  EXPECT_EQ(weak->AddRefLock(), nullptr);
  weak->RefObserved();  // nothing observed: no effect
  EXPECT_EQ(weak->ReferenceCount(), 1);  // only the holder's: the object gave its own back
  weak->Unref();
  EXPECT_EQ(g_liveCounters.load(), 0);
}

// Readers loop on AddRefLock while the owner makes the final release. With
// `readersOwnCounter` each reader also takes its own reference to the counter
// on its thread, the main thread drops its share meanwhile, and the readers
// drop theirs when done: the counter's count then changes on every thread at
// once and the last to let go, whichever it is, destroys the counter.
TEST(WeakPtrRace, AddRefLockAgainstTheFinalRelease) {
  constexpr int kRounds = 1000;
  constexpr int kReaders = 2;
  for (bool readersOwnCounter : {false, true}) {
    int handedOut = 0;
    int bad = 0;
    for (int round = 0; round < kRounds; ++round) {
      Watched* object = new Watched;
      object->Ref();  // the owner's one reference
      CWeakPtrCounter* weak = object->Weak();
      weak->Ref();  // the main thread's share, taken before the readers start

      std::atomic<int> started{0};
      std::atomic<bool> anyGot{false};
      auto startTogether = [&] {
        ++started;
        while (started.load() <= kReaders) std::this_thread::yield();
      };
      std::vector<std::thread> threads;
      std::vector<int> got(kReaders, 0), wrong(kReaders, 0);
      for (int r = 0; r < kReaders; ++r) {
        threads.emplace_back([&, r] {
          if (readersOwnCounter) weak->Ref();
          startTogether();
          // The reader's own Unref may be the final one.
          while (CReferenced* p = weak->AddRefLock()) {
            if (!static_cast<Watched*>(p)->Alive()) ++wrong[r];
            ++got[r];
            anyGot.store(true);
            p->Unref();
          }
          if (readersOwnCounter) weak->Unref();
        });
      }
      threads.emplace_back([&, round] {
        startTogether();
        // Every other round waits until a reader holds a reference, so that
        // the race is run however the threads are scheduled.
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

      EXPECT_EQ(g_live.load(), 0) << "round " << round;
      if (!readersOwnCounter) {
        EXPECT_EQ(weak->AddRefLock(), nullptr);
        EXPECT_EQ(weak->ReferenceCount(), 1);
        weak->Unref();
      }
      EXPECT_EQ(g_liveCounters.load(), 0) << "round " << round;
      for (int r = 0; r < kReaders; ++r) handedOut += got[r], bad += wrong[r];
    }
    EXPECT_EQ(bad, 0) << readersOwnCounter;
    EXPECT_GT(handedOut, 0) << readersOwnCounter;
  }
}

}  // namespace
}  // namespace hux

// A module registering its types while other threads create objects.
#include <hux/object/factory.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <hux/io/memstream.h>

namespace hux {
namespace {

constexpr eXOMDataType Code(int n) { return static_cast<eXOMDataType>(890000 + n); }
constexpr eXOMDataType kCompleted = Code(-1);

void* CreateInt(void const*) { return new int(7); }
void* CreateOtherInt(void const*) { return new int(8); }
void DeleteInt(void* p) { delete static_cast<int*>(p); }

std::string NameOf(int n) { return "factory_threads::Type" + std::to_string(n); }

TEST(FactoryThreads, RegistrationWhileOthersCreate) {
  constexpr int kTypes = 2000;
  constexpr int kCreators = 3;
  GBaseObjectFactory& f = GetBaseObjectFactory();
  sClassFunctionPtr first;
  first.createVoidObject = &CreateInt;
  first.deleteVoidObject = &DeleteInt;
  f.RegitsterObjectPointers(kCompleted, first);

  std::atomic<int> published{0};
  std::atomic<int> failures{0};
  std::vector<std::thread> creators;
  for (int t = 0; t < kCreators; ++t) {
    creators.emplace_back([&, t] {
      unsigned next = static_cast<unsigned>(t) * 7919u;
      for (int done = 0; done < kTypes; done = published.load(std::memory_order_acquire)) {
        CReferenced* stream = f.CreateRefObject(DT_MEM_STREAM);
        if (!stream || f.GetDataTypeByClassName(FactoryClassName<GMemStream>()) != DT_MEM_STREAM) ++failures;
        if (stream) {
          stream->Ref();
          stream->Unref();
        }
        int* made = static_cast<int*>(f.CreateVoidObject(kCompleted));
        if (!made || (*made != 7 && *made != 8)) ++failures;
        delete made;
        if (done == 0) continue;
        next = next * 1103515245u + 12345u;
        const int n = static_cast<int>(next % static_cast<unsigned>(done));
        const sClassFunctionPtr* record = f.GetFunctionPtr(Code(n));
        if (!record || record->createVoidObject != &CreateInt || record->deleteVoidObject != &DeleteInt ||
            record->className != NameOf(n) || f.GetDataTypeByClassName(NameOf(n)) != Code(n))
          ++failures;
      }
    });
  }
  for (int n = 0; n < kTypes; ++n) {
    sClassFunctionPtr record = first, completion;
    record.className = NameOf(n);
    f.RegitsterObjectPointers(Code(n), record);
    completion.createVoidObject = n % 2 ? &CreateInt : &CreateOtherInt;
    f.RegitsterObjectPointers(kCompleted, completion);
    published.store(n + 1, std::memory_order_release);
  }
  for (auto& t : creators) t.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace hux

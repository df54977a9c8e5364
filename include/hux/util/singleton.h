// One process-wide instance of a class, created on first use.
//
// A class T derives from CSingleton<T> and is reached through
// CSingleton<T>::GetInstance(). The instance is a function-local static: it is
// created by the first call and destroyed at exit (or when the module that
// holds it is unloaded), before the objects created earlier. The first call is
// safe from any thread (the language serialises the creation of a
// function-local static); the instance itself is not locked.
//
// The members are defined outside the class body so that they are not inline:
// the library instantiates CSingleton for its own classes (the log manager, the
// frame profiler) once, exported, and client modules that name those
// singletons share that one instance instead of making their own.
#pragma once

#include <hux/export.h>

namespace hux {

template <class T>
class HUX_API CSingleton {
 public:
  // The instance, created on the first call.
  static T& GetInstance();
  // The address of GetInstance(); it creates the instance too.
  static T* GetInstancePtr();

 protected:
  CSingleton() {}
  ~CSingleton() {}

 private:
  static T* ms_pInstance;
};

template <class T>
T* CSingleton<T>::ms_pInstance = nullptr;

template <class T>
T& CSingleton<T>::GetInstance() {
  // The pointer is stored once, inside the guarded initialisation, so
  // concurrent first calls do not race on it.
  static T instance;
  static T* const stored = (ms_pInstance = &instance);
  return *stored;
}

template <class T>
T* CSingleton<T>::GetInstancePtr() {
  return &GetInstance();
}

}  // namespace hux

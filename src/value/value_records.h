// The copy and destroy functions of the value objects the library registers
// with the factory (strings, geometric values, file addresses). One
// definition for the registration and for the variant, which recognises its
// own string records by these addresses and may then reuse a held string
// instead of destroying it and creating another.
#pragma once

namespace hux::detail {

// A new object: a copy of *source, or a default (zero) one for a null source.
template <class T>
void* CreateCopy(void const* source) {
  return source ? new T(*static_cast<const T*>(source)) : new T();
}

template <class T>
void DeleteObject(void* object) {
  delete static_cast<T*>(object);
}

}  // namespace hux::detail

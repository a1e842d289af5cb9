// DynArray: the growable array used across the host and the module.
// Layout is fixed (data pointer, count, capacity as ints) because the module
// reads arrays the host owns; memory comes from the shared heap.
#pragma once
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>
#include "lib/check.h"
#include "lib/heap.h"

template <class T, class Allocator = DefaultAllocator>
struct DynArray {
  T* ptr = nullptr;
  int num = 0;
  int cap = 0;

  DynArray() = default;
  DynArray(const DynArray& o) { append(o.ptr, o.num); }
  DynArray(DynArray&& o) noexcept : ptr(o.ptr), num(o.num), cap(o.cap) {
    o.ptr = nullptr;
    o.num = o.cap = 0;
  }
  DynArray& operator=(const DynArray& o) {
    if (this != &o) {
      clear();
      append(o.ptr, o.num);
    }
    return *this;
  }
  DynArray& operator=(DynArray&& o) noexcept {
    if (this != &o) {
      release();
      ptr = o.ptr, num = o.num, cap = o.cap;
      o.ptr = nullptr;
      o.num = o.cap = 0;
    }
    return *this;
  }
  ~DynArray() { release(); }

  int count() const { return num; }
  int capacity() const { return cap; }
  bool empty() const { return num == 0; }
  T* data() { return ptr; }
  const T* data() const { return ptr; }
  T& operator[](int i) { return ptr[i]; }
  const T& operator[](int i) const { return ptr[i]; }
  T* begin() { return ptr; }
  T* end() { return ptr + num; }
  const T* begin() const { return ptr; }
  const T* end() const { return ptr + num; }
  T& back() { return ptr[num - 1]; }

  // Makes room for at least n elements without changing the count.
  void reserve(int n) {
    if (n > cap) setCapacity(n);
  }

  // Appends one element; returns its index.
  int push_back(const T& v) {
    if (num == cap) grow(num + 1);
    new (ptr + num) T(v);
    return num++;
  }
  int push_back(T&& v) {
    if (num == cap) grow(num + 1);
    new (ptr + num) T(std::move(v));
    return num++;
  }
  // Appends n copies of items (n may be 0); returns the index of the first.
  int append(const T* items, int n) {
    int at = num;
    insert(at, items, n);
    return at;
  }
  // Appends n value-initialised elements; returns a pointer to the first.
  T* appendDefault(int n) {
    int at = num;
    insertDefault(at, n);
    return ptr + at;
  }

  // Inserts n copies of items before index at; items null inserts value-initialised ones.
  void insert(int at, const T* items, int n) {
    ASSERT(n>=0);
    ASSERT(at>=0 && at<=num);
    if (num + n > cap) grow(num + n);
    shiftTail(at, n);
    for (int i = 0; i < n; i++) {
      if (items)
        new (ptr + at + i) T(items[i]);
      else
        new (ptr + at + i) T();
    }
    num += n;
  }
  void insertDefault(int at, int n) { insert(at, nullptr, n); }

  // Removes n elements starting at index at; the tail moves down.
  void erase(int at, int n = 1) {
    ASSERT(n>=0);
    ASSERT(at>=0 && at<=num);
    ASSERT(at+n<=num);
    for (int i = 0; i < n; i++) ptr[at + i].~T();
    int tail = num - at - n;
    if (std::is_trivially_copyable_v<T>) {
      if (tail > 0) memmove((void*)(ptr + at), (void*)(ptr + at + n), sizeof(T) * tail);
    } else {
      for (int i = 0; i < tail; i++) {
        new (ptr + at + i) T(std::move(ptr[at + n + i]));
        ptr[at + n + i].~T();
      }
    }
    num -= n;
  }
  // Removes element i by moving the last element into its place (order not kept).
  void eraseFast(int i) {
    ASSERT(i >= 0 && i < num);
    if (i != num - 1) ptr[i] = std::move(ptr[num - 1]);
    pop_back();
  }
  void pop_back() {
    ASSERT(num>0);
    ptr[--num].~T();
  }

  // Sets the count; new elements are value-initialised.
  void resize(int n) {
    ASSERT(n>=0);
    if (n > num)
      insertDefault(num, n - num);
    else
      while (num > n) ptr[--num].~T();
  }
  // Index of the first element equal to v, or -1.
  int find(const T& v) const {
    for (int i = 0; i < num; i++)
      if (ptr[i] == v) return i;
    return -1;
  }

  // Destroys the elements, keeps the memory.
  void clear() {
    for (int i = 0; i < num; i++) ptr[i].~T();
    num = 0;
  }
  // Destroys the elements and frees the memory.
  void release() {
    clear();
    Allocator::free(ptr);
    ptr = nullptr;
    cap = 0;
  }

 private:
  // Growth rule: double the capacity; if that is still too small, the needed
  // count + 8; never below 8.
  void grow(int needed) {
    int c = cap * 2;
    if (c < needed) c = needed + 8;
    if (c < 8) c = 8;
    setCapacity(c);
  }
  void setCapacity(int c) {
    if (std::is_trivially_copyable_v<T>) {
      T* p = (T*)Allocator::realloc(ptr, sizeof(T) * (size_t)c);
      if (!p) fatal("out of memory (%d elements of %d bytes)", c, (int)sizeof(T));
      ptr = p;
    } else {
      T* p = (T*)Allocator::alloc(sizeof(T) * (size_t)c);
      if (!p) fatal("out of memory (%d elements of %d bytes)", c, (int)sizeof(T));
      for (int i = 0; i < num; i++) {
        new (p + i) T(std::move(ptr[i]));
        ptr[i].~T();
      }
      Allocator::free(ptr);
      ptr = p;
    }
    cap = c;
  }
  // Opens a gap of n uninitialised slots at index at (capacity already there).
  void shiftTail(int at, int n) {
    int tail = num - at;
    if (n == 0 || tail == 0) return;
    if (std::is_trivially_copyable_v<T>) {
      memmove((void*)(ptr + at + n), (void*)(ptr + at), sizeof(T) * tail);
    } else {
      for (int i = tail - 1; i >= 0; i--) {
        new (ptr + at + n + i) T(std::move(ptr[at + i]));
        ptr[at + i].~T();
      }
    }
  }
};

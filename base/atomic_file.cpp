#include "base/atomic_file.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <random>
#include <thread>

std::string TemporarySuffix() {
  static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  // The clock, the thread and this thread's own storage are seed enough.
  thread_local std::mt19937_64 random(static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                                      static_cast<uint64_t>(std::hash<std::thread::id>{}(std::this_thread::get_id())) << 20 ^
                                      static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&random)));
  std::string suffix(6, 'x');
  for (char& letter : suffix) letter = kLetters[random() % (sizeof kLetters - 1)];
  return suffix;
}

Outcome WriteFileAtomically(const std::string& path, const void* data, size_t size, mode_t mode,
                            Durability durability) {
  AtomicFileWriter file(path, mode);
  if (const Outcome written = file.WriteAt(0, data, size); !written.ok) return written;
  return file.Commit(durability);
}

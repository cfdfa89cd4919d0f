// Loading a shared library at run time (dlopen / LoadLibrary). For tests and
// tools, which load the plugin the way a host does.
#pragma once

#include <string>
#include <utility>

namespace qmx::port {

class Library {
 public:
  Library() = default;
  explicit Library(const std::string& path);
  ~Library() { Close(); }
  Library(Library&& other) noexcept
      : handle_(std::exchange(other.handle_, nullptr)), error_(std::move(other.error_)) {}
  Library& operator=(Library&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = std::exchange(other.handle_, nullptr);
      error_ = std::move(other.error_);
    }
    return *this;
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  bool Loaded() const { return handle_ != nullptr; }
  // The system's reason for the last failure to load or look up.
  const std::string& Error() const { return error_; }
  // The address of an exported symbol, or null (Error says why).
  void* Symbol(const char* name);
  // Unloads now; whether the system succeeded.
  bool Close();
  // Leaves the library loaded for the rest of the process: this object
  // forgets it without unloading it. For libraries that keep process-wide
  // state (the plugin's C++ runtime does), which must outlive any unload.
  void KeepLoaded() { handle_ = nullptr; }

 private:
  void* handle_ = nullptr;
  std::string error_;
};

}  // namespace qmx::port

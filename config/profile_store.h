#pragma once
// Port to the private-profile (ini) file functions.
#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <tuple>

class IProfileStore {
 public:
  virtual ~IProfileStore() = default;
  // The value, or "" when the file, section or key is missing.
  virtual std::string Get(const std::string& file, const std::string& section, const std::string& key) = 0;
  // Replaces or adds one key (creating file and section); false when the write failed.
  virtual bool Put(const std::string& file, const std::string& section, const std::string& key,
                   const std::string& value) = 0;
  // Whether the key is there at all (an empty value counts).
  virtual bool Has(const std::string& file, const std::string& section, const std::string& key) = 0;
  // The one-time load brackets its reads with these; a store that keeps a good copy of the
  // file brings a damaged file back first and takes the copy after.
  virtual void BeforeLoad(const std::string& /*file*/) {}
  virtual void AfterLoad(const std::string& /*file*/) {}
};

// Reads a value of any length through a fixed-buffer call that behaves like
// GetPrivateProfileString: it copies what fits, NUL-terminated, and returns the number of
// characters copied, which is size - 1 when the value was cut. The buffer starts at 10,000
// characters and doubles until the value fits (at most kProfileValueMax).
constexpr size_t kProfileValueMax = size_t(64) << 20;
template <class Char>
std::basic_string<Char> ReadWholeValue(const std::function<size_t(Char* buffer, size_t size)>& read) {
  for (size_t size = 10000;; size *= 2) {
    std::basic_string<Char> buffer(size, Char());
    size_t n = read(&buffer[0], size);
    if (n > size - 1) n = size - 1;
    if (n + 1 < size || size >= kProfileValueMax) return buffer.substr(0, n);
  }
}

// In-memory store for tests and tools.
class CMemoryProfileStore : public IProfileStore {
 public:
  std::string Get(const std::string& file, const std::string& section, const std::string& key) override;
  bool Put(const std::string& file, const std::string& section, const std::string& key,
           const std::string& value) override;
  bool Has(const std::string& file, const std::string& section, const std::string& key) override;
  bool m_bFailWrites = false;
  int m_nWrites = 0;

 private:
  std::map<std::tuple<std::string, std::string, std::string>, std::string> m_values;
};

#include "support/in_memory_files.hpp"

namespace quorin::testing {

class InMemoryFileWriter final : public platform::FileWriter {
 public:
  InMemoryFileWriter(InMemoryFiles& files, std::string path, bool failing)
      : files_(files), path_(std::move(path)), failing_(failing) {}
  bool append(std::string_view bytes) override {
    bytes_.append(bytes);
    return !failing_;
  }
  bool commit() override { return !failing_ && files_.store(path_, std::move(bytes_)); }

 private:
  InMemoryFiles& files_;
  std::string path_;
  bool failing_;
  std::string bytes_;
};

std::string InMemoryFiles::key(const std::filesystem::path& path) {
  auto text = path.lexically_normal().string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

bool InMemoryFiles::fileExists(const std::filesystem::path& path) const {
  std::lock_guard lock(mutex_);
  return nodes_.count(key(path)) > 0;
}

bool InMemoryFiles::makeDirectories(const std::string& path) {
  if (path.empty() || path == "/") return true;
  auto found = nodes_.find(path);
  if (found != nodes_.end()) return found->second.directory;
  if (!makeDirectories(std::filesystem::path(path).parent_path().string())) return false;
  nodes_[path].directory = true;
  return true;
}

bool InMemoryFiles::createDirectory(const std::filesystem::path& path) {
  std::lock_guard lock(mutex_);
  return !refuseDirectories && makeDirectories(key(path));
}

bool InMemoryFiles::removeItem(const std::filesystem::path& path) {
  std::lock_guard lock(mutex_);
  auto root = key(path);
  auto it = nodes_.find(root);
  if (it == nodes_.end()) return false;
  it = nodes_.erase(it);
  while (it != nodes_.end() && it->first.starts_with(root + "/")) it = nodes_.erase(it);
  return true;
}

std::optional<std::string> InMemoryFiles::contents(const std::filesystem::path& path) const {
  std::lock_guard lock(mutex_);
  auto it = nodes_.find(key(path));
  if (it == nodes_.end() || it->second.directory) return std::nullopt;
  if (unreadable.count(path.filename().string())) return std::nullopt;
  return it->second.bytes;
}

std::unique_ptr<platform::FileWriter> InMemoryFiles::createFile(const std::filesystem::path& path) {
  std::lock_guard lock(mutex_);
  auto parent = nodes_.find(key(path.parent_path()));
  if (parent == nodes_.end() || !parent->second.directory) return nullptr;
  bool failing = failingWrites.count(path.filename().string()) > 0;
  return std::make_unique<InMemoryFileWriter>(*this, key(path), failing);
}

void InMemoryFiles::noteUnwritten(const std::filesystem::path& path) const {
  std::lock_guard lock(mutex_);
  unwritten_.insert(key(path));
}

std::set<std::string> InMemoryFiles::unwritten() const {
  std::lock_guard lock(mutex_);
  return unwritten_;
}

bool InMemoryFiles::store(const std::string& path, std::string bytes) {
  std::lock_guard lock(mutex_);
  auto& node = nodes_[path];
  if (node.directory) return false;
  node.bytes = std::move(bytes);
  return true;
}

void InMemoryFiles::put(const std::filesystem::path& relative, std::string bytes) {
  auto path = key(*library / relative);
  std::lock_guard lock(mutex_);
  makeDirectories(std::filesystem::path(path).parent_path().string());
  nodes_[path] = Node{false, std::move(bytes)};
}

std::optional<std::string> InMemoryFiles::read(const std::filesystem::path& relative) const {
  return contents(*library / relative);
}

bool InMemoryFiles::isDirectory(const std::filesystem::path& relative) const {
  std::lock_guard lock(mutex_);
  auto it = nodes_.find(key(*library / relative));
  return it != nodes_.end() && it->second.directory;
}

std::set<std::string> InMemoryFiles::paths() const {
  std::lock_guard lock(mutex_);
  auto prefix = key(*library) + "/";
  std::set<std::string> result;
  for (const auto& [path, node] : nodes_)
    if (path.starts_with(prefix)) result.insert(path.substr(prefix.size()));
  return result;
}

}  // namespace quorin::testing

#include "migration/json_object_file.hpp"

namespace quorin::migration {
namespace {

constexpr std::size_t kFlushBytes = 1 << 20;

}  // namespace

bool ensureDirectory(platform::FileManager& files, const std::filesystem::path& directory) {
  return files.fileExists(directory) || files.createDirectory(directory);
}

void writeOutputFile(platform::FileManager& files, const std::filesystem::path& directory,
                     std::string_view name, const formats::Value& value) {
  if (!ensureDirectory(files, directory)) return;
  auto path = directory / name;
  auto json = formats::writeJson(value);
  auto writer = json ? files.createFile(path) : nullptr;
  if (!writer || !writer->append(*json) || !writer->commit()) files.noteUnwritten(path);
}

JsonObjectFile::JsonObjectFile(platform::FileManager& files, std::filesystem::path directory,
                               std::string name)
    : files_(files), directory_(std::move(directory)), name_(std::move(name)) {}

bool JsonObjectFile::open() {
  if (writer_ || failed_) return !failed_;
  if (ensureDirectory(files_, directory_)) {
    writer_ = files_.createFile(directory_ / name_);
    if (!writer_) files_.noteUnwritten(directory_ / name_);
  }
  failed_ = !writer_;
  if (writer_) behind_ = std::make_unique<WriteBehind>(*writer_);
  buffer_.push_back('{');
  return !failed_;
}

void JsonObjectFile::beginMember(std::string_view name, Name form) {
  if (count_++ > 0) buffer_.push_back(',');
  if (form == Name::spelled) {
    buffer_.push_back('"');
    buffer_.append(name);
    buffer_.push_back('"');
  } else {
    failed_ = failed_ || !formats::appendJsonString(name, buffer_);
  }
  buffer_.push_back(':');
}

// A failed write stops the file, as before it went behind: nothing more is made for it.
void JsonObjectFile::flush() {
  failed_ = !behind_->append(buffer_) || failed_;
}

void JsonObjectFile::flushIfFull() {
  if (buffer_.size() >= kFlushBytes) flush();
}

bool JsonObjectFile::add(std::string_view name, const formats::Value& value) {
  std::string text;
  if (!formats::appendJson(value, text)) return false;
  if (!open()) return true;
  beginMember(name, Name::toEscape);
  buffer_ += text;
  flushIfFull();
  return true;
}

// A large text goes through the buffer a piece at a time, so that each piece is written while
// the next is copied.
void JsonObjectFile::addText(std::string_view text, bool compact,
                             const formats::JsonOutline& outline) {
  if (compact) {
    for (std::size_t at = 0; at < text.size(); at += kFlushBytes) {
      buffer_.append(text.substr(at, kFlushBytes));
      flushIfFull();
    }
  } else {
    for (auto piece : outline.pieces(text)) {
      formats::appendCompactJson(piece, buffer_);
      flushIfFull();
    }
  }
}

void JsonObjectFile::addDocument(std::string_view name, const formats::JsonOutline& outline) {
  if (!open()) return;
  beginMember(name, Name::toEscape);
  addText(outline.text, outline.compact, outline);
}

void JsonObjectFile::addMember(const formats::JsonMemberView& member,
                               const formats::JsonOutline& outline) {
  if (!open()) return;
  beginMember(member.name, member.escapedName ? Name::toEscape : Name::spelled);
  addText(member.text, member.compact, outline);
}

void JsonObjectFile::commit() {
  if (!writer_ || count_ == 0) return;
  buffer_.push_back('}');
  // The last piece is written here: an output under a megabyte never starts a thread.
  bool written = !failed_ && behind_->finish() && writer_->append(buffer_) && writer_->commit();
  behind_.reset();
  writer_.reset();
  if (!written) files_.noteUnwritten(directory_ / name_);
}

}  // namespace quorin::migration

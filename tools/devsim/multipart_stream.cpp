#include "multipart_stream.h"

#include <string.h>

#include <algorithm>
#include <cctype>

namespace {

constexpr size_t kMaxHeaderBlock = 8192;

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string TrimBlanks(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The value of `key` in a header value such as `form-data; name="file"; filename="E"`;
// false when the parameter is absent.
bool Parameter(const std::string& value, const std::string& key, std::string& out) {
    size_t start = 0;
    while (start < value.size()) {
        size_t end = value.find(';', start);
        // A quoted value may hold a semicolon.
        const size_t quote = value.find('"', start);
        if (quote != std::string::npos && quote < end) {
            const size_t close = value.find('"', quote + 1);
            end = close == std::string::npos ? std::string::npos : value.find(';', close);
        }
        const std::string item =
            TrimBlanks(value.substr(start, end == std::string::npos ? end : end - start));
        const size_t eq = item.find('=');
        if (eq != std::string::npos && Lower(TrimBlanks(item.substr(0, eq))) == key) {
            std::string v = TrimBlanks(item.substr(eq + 1));
            if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
            out = v;
            return true;
        }
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return false;
}

}  // namespace

std::string MultipartBoundary(const std::string& contentType) {
    const size_t semicolon = contentType.find(';');
    if (Lower(TrimBlanks(contentType.substr(0, semicolon))) != "multipart/form-data") return {};
    std::string boundary;
    if (semicolon == std::string::npos ||
        !Parameter(contentType.substr(semicolon + 1), "boundary", boundary)) {
        return {};
    }
    return boundary;
}

MultipartStream::MultipartStream(std::string boundary) : delimiter_("\r\n--" + boundary) {}

bool MultipartStream::Feed(const char* data, size_t count) {
    if (!problem_.empty()) return false;
    pending_.append(data, count);
    while (Step()) {
    }
    return problem_.empty();
}

bool MultipartStream::Finish() {
    if (!problem_.empty()) return false;
    if (state_ != State::Done) return Fail("the body ends before its closing boundary");
    return true;
}

bool MultipartStream::Fail(const std::string& problem) {
    if (problem_.empty()) problem_ = problem;
    return false;
}

bool MultipartStream::Step() {
    if (!problem_.empty()) return false;
    switch (state_) {
        case State::Opening: {
            // The first delimiter has no line end in front of it.
            const std::string opening = delimiter_.substr(2);
            if (pending_.size() < opening.size()) return false;
            if (pending_.compare(0, opening.size(), opening) != 0) {
                return Fail("the body does not start with its boundary");
            }
            pending_.erase(0, opening.size());
            state_ = State::AfterDelimiter;
            return true;
        }
        case State::AfterDelimiter:
            if (pending_.size() < 2) return false;
            if (pending_.compare(0, 2, "\r\n") == 0) {
                state_ = State::Headers;
            } else if (pending_.compare(0, 2, "--") == 0) {
                state_ = State::Closing;
            } else {
                return Fail("a boundary is followed by neither a line end nor \"--\"");
            }
            pending_.erase(0, 2);
            return true;
        case State::Headers: {
            const size_t end = pending_.find("\r\n\r\n");
            if (end == std::string::npos) {
                if (pending_.size() > kMaxHeaderBlock) return Fail("a part header is too long");
                return false;
            }
            if (!ParseHeaders(pending_.substr(0, end))) return false;
            pending_.erase(0, end + 4);
            state_ = State::Content;
            return true;
        }
        case State::Content: {
            const void* found =
                memmem(pending_.data(), pending_.size(), delimiter_.data(), delimiter_.size());
            if (found) {
                const size_t at =
                    static_cast<size_t>(static_cast<const char*>(found) - pending_.data());
                AddContent(pending_.data(), at);
                pending_.erase(0, at + delimiter_.size());
                state_ = State::AfterDelimiter;
                return true;
            }
            // The tail may be the start of a delimiter split across two reads.
            const size_t keep = delimiter_.size() - 1;
            if (pending_.size() > keep) {
                AddContent(pending_.data(), pending_.size() - keep);
                pending_.erase(0, pending_.size() - keep);
            }
            return false;
        }
        case State::Closing:
            if (pending_.size() < 2) return false;
            if (pending_.compare(0, 2, "\r\n") != 0) {
                return Fail("the closing boundary has no line end");
            }
            pending_.erase(0, 2);
            state_ = State::Done;
            return true;
        case State::Done:
            if (!pending_.empty()) return Fail("bytes follow the closing boundary");
            return false;
    }
    return false;
}

bool MultipartStream::ParseHeaders(const std::string& block) {
    Part part;
    bool disposition = false;
    size_t start = 0;
    while (start <= block.size()) {
        size_t end = block.find("\r\n", start);
        if (end == std::string::npos) end = block.size();
        const std::string line = block.substr(start, end - start);
        const size_t colon = line.find(':');
        if (colon == std::string::npos) return Fail("a part header line has no ':'");
        const std::string name = Lower(TrimBlanks(line.substr(0, colon)));
        const std::string value = TrimBlanks(line.substr(colon + 1));
        if (name == "content-disposition") {
            const size_t semicolon = value.find(';');
            if (Lower(TrimBlanks(value.substr(0, semicolon))) != "form-data") {
                return Fail("a part is not form-data");
            }
            disposition = Parameter(value, "name", part.Name);
            part.HasFileName = Parameter(value, "filename", part.FileName);
        } else if (name == "content-type") {
            part.ContentType = value;
        }
        start = end + 2;
    }
    if (!disposition) return Fail("a part has no form-data name");
    parts_.push_back(part);
    return true;
}

void MultipartStream::AddContent(const char* data, size_t count) {
    Part& part = parts_.back();
    if (part.Start.size() < kKeptBytes) {
        part.Start.append(data, std::min(count, kKeptBytes - part.Start.size()));
    }
    part.Size += static_cast<int64_t>(count);
}

#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Reads a multipart/form-data body as it arrives, the way a device's upload CGI does,
// without ever holding it: the body must start with the delimiter line "--BOUNDARY",
// every part must carry a header block with a form-data Content-Disposition, and the
// body must end with the closing delimiter "--BOUNDARY--" and its line end, with
// nothing after it. Of each part only the first bytes and the byte count are kept.
class MultipartStream {
public:
    // Bytes kept from the start of each part.
    static constexpr size_t kKeptBytes = 256;

    struct Part {
        std::string Name;      // name="..."
        std::string FileName;  // filename="..."
        bool HasFileName = false;
        std::string ContentType;
        std::string Start;  // the first kKeptBytes bytes (all of a short part)
        int64_t Size = 0;
    };

    explicit MultipartStream(std::string boundary);

    // Takes the next bytes of the body; false once the body is malformed.
    bool Feed(const char* data, size_t count);
    // The body has ended; false when that is too early (or it was malformed already).
    bool Finish();

    const std::vector<Part>& Parts() const { return parts_; }
    // Why the body is malformed; empty while it is not.
    const std::string& Problem() const { return problem_; }

private:
    enum class State { Opening, AfterDelimiter, Headers, Content, Closing, Done };

    bool Fail(const std::string& problem);
    bool ParseHeaders(const std::string& block);
    void AddContent(const char* data, size_t count);
    bool Step();

    std::string delimiter_;  // "\r\n--BOUNDARY": ends every part's content
    State state_ = State::Opening;
    std::string pending_;  // bytes received but not yet consumed
    std::vector<Part> parts_;
    std::string problem_;
};

// The boundary named by a multipart/form-data Content-Type value; empty when the
// value is another type or names none.
std::string MultipartBoundary(const std::string& contentType);

// Files dropped on a window: one drop's paths wrapped until the drop is finished, and the
// reading of the text/uri-list form that drag and drop on Linux desktops carries. The
// watcher that hooks a window lives in Kiv_shelllibrary_window.
#pragma once

#include "Kiv_framework.h"

#include <memory>
#include <string>
#include <vector>

namespace Kiv_shelllibrary {

class EShellLibraryError : public Kiv_framework::Exception {
public:
    using Exception::Exception;
};

class EFileDropError : public EShellLibraryError {
public:
    using EShellLibraryError::EShellLibraryError;
};

// One drop's data: the dropped paths in the order the drop gives them.
using TDropHandle = std::shared_ptr<const std::vector<std::string>>;

class TDroppedFiles {
public:
    explicit TDroppedFiles(TDropHandle handle) : Handle(std::move(handle)) {}
    // Destroying the wrapper does not finish the drop.
    virtual ~TDroppedFiles() = default;
    TDroppedFiles(const TDroppedFiles&) = delete;
    TDroppedFiles& operator=(const TDroppedFiles&) = delete;

    // Releases the drop's data; a second call does nothing.
    virtual void Finish();
    virtual bool IsFinished() const;

    // Both raise EFileDropError "The file drop operation is already finished." after
    // Finish; FilePath raises "The program cannot get the path of a dropped file." for an
    // index outside 0..Count - 1.
    int Count() const;
    std::string FilePath(int index) const;

    // The data while the drop is open, nullptr once finished.
    const TDropHandle& GetHandle() const { return Handle; }

private:
    void CheckNotFinished() const;

    TDropHandle Handle;
};

// The local file paths of a text/uri-list (RFC 2483): one URI a line, "#" lines are
// comments; file: URIs with no host or "localhost" give their path with the percent
// escapes decoded to bytes. Other URIs, and lines that are not URIs, give nothing.
std::vector<std::string> FilePathsOfUriList(const std::string& text);

} // namespace Kiv_shelllibrary

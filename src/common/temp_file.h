#pragma once

#include <filesystem>
#include <string_view>

//! Who may read a file written through a temporary file.
enum class TFileAccess
{
    Usual,   // the mode a new file of the user gets (the umask decides)
    Private, // the owner alone (0600), from the moment the file exists
};

// A file that replaces another only once it is complete. It is created beside its target,
// exclusively and under a fresh name: a link planted in the folder is never written through,
// and a temporary file left behind by a crash never blocks a later one.
class TTempFile
{
public:
    //! Creates "<target>.part-XXXXXX" in the target's folder, with the permissions `access`
    //! gives. Throws std::system_error when it cannot be created.
    explicit TTempFile(std::filesystem::path target, TFileAccess access = TFileAccess::Usual);
    //! Removes the temporary file unless it was committed.
    ~TTempFile();
    TTempFile(const TTempFile&) = delete;
    TTempFile& operator=(const TTempFile&) = delete;

    //! Appends `bytes`, handed to the system at once. Throws std::system_error.
    void Write(std::string_view bytes);

    //! Closes the file and renames it over the target (a link there is replaced, not
    //! followed). Throws std::system_error; the temporary file is then removed.
    void Commit();

    const std::filesystem::path& Path() const { return TempPath; }

private:
    std::filesystem::path Target;
    std::filesystem::path TempPath;
    int Fd = -1;
    bool Committed = false;
};

//! Writes `bytes` into a temporary file beside `target` and renames it over `target`: a reader
//! sees the old file or the whole new one, never a part, and a link planted under the name is
//! replaced, never written through. Throws std::system_error; `target` is then as it was.
void WriteFileReplacing(const std::filesystem::path& target, std::string_view bytes,
                        TFileAccess access = TFileAccess::Usual);

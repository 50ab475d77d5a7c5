#pragma once
// One program per tree: a lock file beside the tree, and a local server by which a second start on
// the same tree asks the running one to bring its window to the front instead of opening the tree
// again (two programs on one tree would each save over what the other added).

#include <QString>

#include <functional>
#include <memory>
#include <string>

class QLocalServer;
class QLockFile;

namespace mistvale {

class SingleInstance {
public:
    enum class Claim {
        Owned,       // this program now holds the tree
        RaisedOther, // another program holds it and was asked to come to the front
        Unreachable, // another program holds it and did not answer
    };

    SingleInstance();
    ~SingleInstance(); // gives the tree back
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Needs a QCoreApplication. A lock left by a program that no longer runs is taken over.
    Claim ClaimTree(const std::string& treePath);
    // Called on the user-interface thread when a later start asks for the window.
    void SetRaiseHandler(std::function<void()> raise) { raise_ = std::move(raise); }
    // The local server's name for a tree (its socket in the temporary folder).
    static QString ServerName(const std::string& treePath);

private:
    void Serve();

    std::unique_ptr<QLockFile> lock_;
    std::unique_ptr<QLocalServer> server_;
    std::function<void()> raise_;
};

} // namespace mistvale

#pragma once
// Seams for the interactive services the core calls on: message and
// confirmation boxes, the system beep and desktop notifications. The desktop program supplies Qt
// implementations; the headless runner writes messages to stderr; tests use
// the scripted fakes below.

#include <deque>
#include <string>
#include <vector>

namespace quillon {

class MessageService {
  public:
    virtual ~MessageService() = default;
    // A modal message box with an OK button.
    virtual void ShowMessage(const std::string& text) = 0;
    // A modal confirmation box with Yes and No buttons; true for Yes.
    virtual bool Confirm(const std::string& text) = 0;
};

class BeepService {
  public:
    virtual ~BeepService() = default;
    virtual void Beep() = 0;
};

// A notification for the desktop's notification area. Posting never blocks
// and never fails: where the desktop has no notification service, nothing
// is shown.
class NotificationService {
  public:
    virtual ~NotificationService() = default;
    virtual void Notify(const std::string& summary, const std::string& body) = 0;
};

// Headless: messages go to stderr, every question is answered No.
class StderrMessages final : public MessageService {
  public:
    void ShowMessage(const std::string& text) override;
    bool Confirm(const std::string& text) override;
};

class SilentBeeper final : public BeepService {
  public:
    void Beep() override {}
};

class NoNotifications final : public NotificationService {
  public:
    void Notify(const std::string&, const std::string&) override {}
    // One shared instance for the programs and tests that post nothing.
    static NoNotifications& Instance();
};

// Records every message and answers questions from a script (No once the
// script is used up).
class ScriptedMessages final : public MessageService {
  public:
    void ShowMessage(const std::string& text) override { Shown.push_back(text); }
    bool Confirm(const std::string& text) override {
        Asked.push_back(text);
        if (Answers.empty()) return false;
        bool answer = Answers.front();
        Answers.pop_front();
        return answer;
    }
    std::vector<std::string> Shown;
    std::vector<std::string> Asked;
    std::deque<bool> Answers;
};

class CountingBeeper final : public BeepService {
  public:
    void Beep() override { ++Count; }
    int Count = 0;
};

struct PostedNotification {
    std::string Summary;
    std::string Body;
};

class RecordingNotifications final : public NotificationService {
  public:
    void Notify(const std::string& summary, const std::string& body) override {
        Posted.push_back({summary, body});
    }
    std::vector<PostedNotification> Posted;
};

// Starts the desktop's text editor on a file; the program does not wait for
// the editor. When nothing can open the file the launcher says so itself.
class ProgramLauncher {
  public:
    virtual ~ProgramLauncher() = default;
    // Opens `file` (a full name) in the text editor; an empty name starts
    // the editor without a file.
    virtual void LaunchProgram(const std::string& file) = 0;
};

}  // namespace quillon

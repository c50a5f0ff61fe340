#pragma once
// Records the message boxes and questions shown while it lives instead of showing them; each
// question is answered with Answer.

#include "runtime/message_box.h"

#include <vector>

class MessageBoxRecorder {
public:
    MessageBoxRecorder()
        : previous_(
              SetMessagePresenter([this](const MessageBoxRequest& r) { Boxes.push_back(r); })),
          previousQuestions_(SetQuestionPresenter([this](const MessageBoxRequest& r) {
              Questions.push_back(r);
              return Answer;
          })) {}
    ~MessageBoxRecorder() {
        SetQuestionPresenter(std::move(previousQuestions_));
        SetMessagePresenter(std::move(previous_));
    }
    MessageBoxRecorder(const MessageBoxRecorder&) = delete;
    MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

    std::vector<MessageBoxRequest> Boxes;
    std::vector<MessageBoxRequest> Questions;
    bool Answer = true;

private:
    MessagePresenter previous_;
    QuestionPresenter previousQuestions_;
};

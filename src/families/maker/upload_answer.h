#pragma once

#include <string>

// How the hand-built cgi_main upload reads the device's answer; the device, or anything
// posing as it, may send any bytes.

// True once `text` holds a whole answer: its head and as many body bytes as its
// Content-Length names. Without a Content-Length the answer ends when the device
// closes the connection or goes quiet.
bool AnswerComplete(const std::string& text);

// The device's verdict from its answer: 0 taken, or the result code of the refusal.
int JudgeAnswer(const std::string& answer);

#pragma once

// The lock maker's encoder library, bound when the program loads. Every argument is a
// NUL-terminated GBK text; 1 is success, any other value a failure.
extern "C" {
int W_Card(const char* port, const char* roomNo, const char* zeros, const char* endStamp,
           const char* a5, const char* a6, const char* a7, const char* code, const char* kind);
int R_Card(const char* port);
int L_Card(const char* port);
}

#pragma once

// The byte link under a serial device: a serial port, a pty, or a replay file.
class ZelLink {
 public:
  virtual ~ZelLink();
  virtual bool Open() = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  virtual void Write(const unsigned char* data, unsigned int len) = 0;
};

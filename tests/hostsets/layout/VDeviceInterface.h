#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

// The host's smallest device interface, which the contract gives in full, members and slots:
// as the stand-in has it, without visibility attributes.
class VDeviceInterface {
 public:
  virtual float Get_Value(unsigned int, const std::string&) const {
    throw std::out_of_range("数据未就绪");
  }
  virtual bool LoadFromCache(const std::string& image) {
    return LoadFromCache(reinterpret_cast<const unsigned char*>(image.data()),
                         static_cast<int>(image.size()));
  }
  virtual bool LoadFromCache(const unsigned char* data, int len) = 0;
  virtual unsigned int DataId() const { return dataId_; }
  virtual std::string DeviceType() const { return deviceType_; }
  virtual int DeviceIoControl(int, const void*, int, void*, int, int&) { return -2; }
  virtual void RoundDone() {}
  virtual bool UseControllerDb() { return useControllerDb_ != 0; }
  virtual ~VDeviceInterface() = default;

  uint32_t dataId_ = 0;
  std::string deviceType_;
  uint8_t useControllerDb_ = 0;
};

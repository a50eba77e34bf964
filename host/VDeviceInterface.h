#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "ZelExport.h"

// The smallest device interface of the host; built into every plugin as it stands here. The
// contract gives it in full; the stand-in's own are only the members' names.
class ZEL_HOST_API VDeviceInterface {
 public:
  // Slot 0: a device without values is never ready.
  virtual float Get_Value(unsigned int, const std::string&) const {
    throw std::out_of_range("数据未就绪");
  }
  // Slot 1.
  virtual bool LoadFromCache(const std::string& image) {
    return LoadFromCache(reinterpret_cast<const unsigned char*>(image.data()),
                         static_cast<int>(image.size()));
  }
  // Slot 2.
  virtual bool LoadFromCache(const unsigned char* data, int len) = 0;
  // Slot 3.
  virtual unsigned int DataId() const { return dataId_; }
  // Slot 4.
  virtual std::string DeviceType() const { return deviceType_; }
  // Slot 5.
  virtual int DeviceIoControl(int, const void*, int, void*, int, int&) { return -2; }
  // Slot 6.
  virtual void RoundDone() {}
  // Slot 7.
  virtual bool UseControllerDb() { return useControllerDb_ != 0; }
  // Slots 8 and 9.
  virtual ~VDeviceInterface() = default;

  uint32_t dataId_ = 0;
  std::string deviceType_;
  uint8_t useControllerDb_ = 0;
};

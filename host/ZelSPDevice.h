#pragma once

#include <cstdint>

#include "ZelVDevice.h"

class ZelLink;

// A device on a serial line. The stand-in's own, beyond the contract: AttachLink, portOpen_,
// outstanding_ and link_.
class ZEL_HOST_API ZelSPDevice : public ZelVDevice {
 public:
  ZelSPDevice();
  ~ZelSPDevice() override;

  void Reset() override;
  bool Init(std::weak_ptr<ZelController> controller, unsigned int dataId,
            const Json::Value& settings) override;

  virtual bool RefreshStatus();                                                         // 23
  virtual int process(unsigned char* data, unsigned int len);                           // 24
  virtual bool IsProcessing();                                                          // 25
  virtual bool IsStalled();                                                             // 26
  virtual int SendData(const unsigned char* data, unsigned int len);                    // 27
  virtual int SendParityData(const unsigned char* data, unsigned int len, EnumParity);  // 28
  virtual bool OpenPort();                                                              // 29
  virtual void ClosePort();                                                             // 30

  // The byte link of this device; none means the requests only reach the controller.
  void AttachLink(std::shared_ptr<ZelLink> link);

  int32_t spStatus_ = 0;
  uint8_t serialFlag_ = 0;
  uint32_t baudRate_ = 9600;
  uint8_t portOpen_ = 0;
  uint8_t outstanding_ = 0;  // a request waits for its reply
  std::shared_ptr<ZelLink> link_;
};

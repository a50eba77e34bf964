#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "ZelVDevice.h"

class ZelLink;

// A device on a serial line: the contract's members with others around them, the stand-in's
// own in another order.
class ZelSPDevice : public ZelVDevice {
 public:
  ZelSPDevice();
  ~ZelSPDevice() override;

  void Reset() override;
  bool Init(std::weak_ptr<ZelController> controller, unsigned int dataId,
            const Json::Value& settings) override;

  virtual bool RefreshStatus();
  virtual int process(unsigned char* data, unsigned int len);
  virtual bool IsProcessing();
  virtual bool IsStalled();
  virtual int SendData(const unsigned char* data, unsigned int len);
  virtual int SendParityData(const unsigned char* data, unsigned int len, EnumParity);
  virtual bool OpenPort();
  virtual void ClosePort();

  void AttachLink(std::shared_ptr<ZelLink> link);

  std::shared_ptr<ZelLink> link_;
  double txTimeout_ = 0.5;
  int32_t spStatus_ = 0;
  uint8_t outstanding_ = 0;
  std::string portName_;
  uint8_t serialFlag_ = 0;
  std::mutex txMutex_;
  uint32_t baudRate_ = 9600;
  std::map<int, int> lineStats_;
  uint8_t portOpen_ = 0;
};

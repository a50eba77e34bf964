#pragma once

#include <json/value.h>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "VDeviceInterface.h"
#include "ZelController.h"
#include "ZelTypes.h"

// A device: the contract's members with others before, between and after them, the stand-in's
// own among them in another order.
class ZelVDevice : public VDeviceInterface, public std::enable_shared_from_this<ZelVDevice> {
 public:
  ZelVDevice();
  ~ZelVDevice() override;

  virtual void Reset();
  virtual bool InitV(ZelVDevice* parent, unsigned int dataId, const Json::Value& settings);
  virtual bool Init(std::weak_ptr<ZelController> controller, unsigned int dataId,
                    const Json::Value& settings);
  virtual bool InitSetting(const Json::Value& settings);
  virtual bool IsSupportDevice(const std::string& type) const;
  virtual std::shared_ptr<ZelVDevice> GetChildVDevice(unsigned int dataId);
  virtual std::vector<std::shared_ptr<ZelVDevice>> GetAllChildVDevices();
  virtual void SendSP(int dataType, const unsigned char* image, unsigned int len, bool changed);
  virtual void SendDelayData(int);
  virtual void SendDoData(int, char);
  virtual int ReadDi(int);
  virtual float ReadAi(int);
  virtual float Get_SP_Value(unsigned int, const std::string&);

  void CheckThresholdBool(int level, const std::string& id, const std::string& code,
                          const std::string& name, const std::string& text, bool active,
                          uint16_t seq);
  void CheckThresholdWork(std::function<void()> item);
  bool DoBatchCheckThreshold(const std::vector<rule_value>& rules);
  void SaveDeviceHistory(const unsigned char* image, unsigned int len);

  template <typename... Args>
  void InfoLog(const char* format, const Args&... args) const {
    if (auto controller = controller_.lock()) controller->InfoLog(DataId(), format, args...);
  }

  std::shared_ptr<ZelController> Controller() const { return controller_.lock(); }

  std::string location_;
  std::weak_ptr<ZelController> controller_;
  uint8_t dataReady_ = 0;
  std::mutex dataMutex_;
  boost::posix_time::ptime lastUpdate_;
  ZelVDevice* parent_ = nullptr;
  double scale_ = 1.0;
  uint16_t ruleSeq_ = 0;
  std::map<std::string, double> limits_;
  std::vector<rule_value> rules_;
  std::string lastError_;
  uint8_t alarmFlag_ = 0;
  double offset_ = 0;
};

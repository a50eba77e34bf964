#pragma once

#include <json/value.h>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "VDeviceInterface.h"
#include "ZelController.h"
#include "ZelExport.h"
#include "ZelTypes.h"

// A device of the host: data, rules, history and log. The stand-in's own, beyond the contract:
// Controller(), parent_, and the name controller_ (the contract has the weak pointer, unnamed).
class ZEL_HOST_API ZelVDevice : public VDeviceInterface,
                                public std::enable_shared_from_this<ZelVDevice> {
 public:
  ZelVDevice();
  ~ZelVDevice() override;

  virtual void Reset();                                                                      // 10
  virtual bool InitV(ZelVDevice* parent, unsigned int dataId, const Json::Value& settings);  // 11
  virtual bool Init(std::weak_ptr<ZelController> controller, unsigned int dataId,
                    const Json::Value& settings);                            // 12
  virtual bool InitSetting(const Json::Value& settings);                     // 13
  virtual bool IsSupportDevice(const std::string& type) const;               // 14
  virtual std::shared_ptr<ZelVDevice> GetChildVDevice(unsigned int dataId);  // 15
  virtual std::vector<std::shared_ptr<ZelVDevice>> GetAllChildVDevices();    // 16
  virtual void SendSP(int dataType, const unsigned char* image, unsigned int len,
                      bool changed);                             // 17
  virtual void SendDelayData(int);                               // 18
  virtual void SendDoData(int, char);                            // 19
  virtual int ReadDi(int);                                       // 20
  virtual float ReadAi(int);                                     // 21
  virtual float Get_SP_Value(unsigned int, const std::string&);  // 22

  // Appends one rule to rules_.
  void CheckThresholdBool(int level, const std::string& id, const std::string& code,
                          const std::string& name, const std::string& text, bool active,
                          uint16_t seq);
  // Hands a work item to the host, which runs it once, now or later.
  void CheckThresholdWork(std::function<void()> item);
  // Evaluates a batch of rules; true when one of them is active.
  bool DoBatchCheckThreshold(const std::vector<rule_value>& rules);
  void SaveDeviceHistory(const unsigned char* image, unsigned int len);

  // Logs one line through the controller; nothing when the controller is gone.
  template <typename... Args>
  void InfoLog(const char* format, const Args&... args) const {
    if (auto controller = controller_.lock()) controller->InfoLog(DataId(), format, args...);
  }

  std::shared_ptr<ZelController> Controller() const { return controller_.lock(); }

  uint8_t dataReady_ = 0;
  boost::posix_time::ptime lastUpdate_;  // not_a_date_time until set
  uint16_t ruleSeq_ = 0;
  std::vector<rule_value> rules_;
  uint8_t alarmFlag_ = 0;
  std::weak_ptr<ZelController> controller_;
  ZelVDevice* parent_ = nullptr;
};

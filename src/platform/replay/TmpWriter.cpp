// temporary stand-in until the writer lands
#include <nlohmann/json.hpp>
#include "platform/replay/MachineSnapshot.h"
namespace dormex {
namespace { std::string Hex(const std::vector<uint8_t>& b){ static const char* d="0123456789abcdef"; std::string s; for(auto c:b){s+=d[c>>4];s+=d[c&15];} return s;} }
std::string WriteMachineSnapshot(const MachineSnapshot& m) {
  nlohmann::ordered_json j;
  j["format"]="dormex-machine/1";
  j["administrator"]=m.Administrator;
  if (m.PowerStatus) j["powerCapabilities"]={{"status",*m.PowerStatus}}; else j["powerCapabilities"]={{"bytes",Hex({m.PowerCapabilities.begin(),m.PowerCapabilities.end()})}};
  if(!m.Registry.empty()){ auto& r=j["registry"]=nlohmann::ordered_json::object(); for(auto&[k,vs]:m.Registry){auto& o=r[k]=nlohmann::ordered_json::object(); for(auto&[n,v]:vs){ if(v.ValueType==SnapshotRegistryValue::Type::Sz) o[n]=v.Text; else if(v.ValueType==SnapshotRegistryValue::Type::Dword) o[n]=v.Dword; else o[n]={{"hex",Hex(v.Bytes)}};}}}
  if(!m.Events.empty()){ auto& a=j["events"]=nlohmann::ordered_json::array(); for(auto&e:m.Events){ nlohmann::ordered_json o; o["provider"]=e.Provider; o["id"]=e.Id; o["opcode"]=e.Opcode; o["decodingSource"]=e.DecodingSource; o["pointerSize"]=e.PointerSize; o["properties"]=nlohmann::ordered_json::array(); for(auto&[n,v]:e.Properties) o["properties"].push_back({n,v}); a.push_back(o);} }
  if(!m.Devices.empty()){ auto& d=j["devices"]=nlohmann::ordered_json::object(); for(auto&[id,ps]:m.Devices){ auto& o=d[id]=nlohmann::ordered_json::object(); for(auto&[n,v]:ps){ switch(v.ValueType){case SnapshotDeviceValue::Type::Text:o[n]=v.Text;break;case SnapshotDeviceValue::Type::List:o[n]=v.List;break;case SnapshotDeviceValue::Type::Number:o[n]=v.Number;break;default:o[n]={{"hex",Hex(v.Bytes)}};}}}}
  if(!m.FirmwareTables.empty()){ auto& f=j["firmwareTables"]; for(auto&[k,v]:m.FirmwareTables) f[k]=Hex(v);}
  if(!m.ScsiPorts.empty()){ auto& f=j["scsiPorts"]; for(auto&[k,v]:m.ScsiPorts){ if(v.IoctlFails) f[std::to_string(k)]={{"ioctlFails",true}}; else f[std::to_string(k)]={{"answer",Hex(v.Answer)}};}}
  nlohmann::ordered_json fa=nlohmann::ordered_json::object();
  if(!m.Faults.StartTraceW.empty()) fa["StartTraceW"]=m.Faults.StartTraceW;
  if(m.Faults.ControlTraceW) fa["ControlTraceW"]=*m.Faults.ControlTraceW;
  if(!m.Faults.EnableTraceEx2.empty()){ for(auto&[k,v]:m.Faults.EnableTraceEx2) fa["EnableTraceEx2"][std::to_string(k)]=v;}
  if(m.Faults.StopTraceW) fa["StopTraceW"]=*m.Faults.StopTraceW;
  if(m.Faults.OpenTraceW) fa["OpenTraceW"]=*m.Faults.OpenTraceW;
  if(m.Faults.ProcessTrace) fa["ProcessTrace"]=*m.Faults.ProcessTrace;
  if(m.Faults.FirmwareTableGrows) fa["GetSystemFirmwareTable"]="grow";
  if(!fa.empty()) j["faults"]=fa;
  return j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace)+"\n";
}
}

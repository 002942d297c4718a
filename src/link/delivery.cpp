#include "link/delivery.h"

#include <exception>

#include "link/frame.h"
#include "link/packaging.h"
#include "text/gbk.h"
#include "text/strings.h"

namespace aqled {
namespace {

// Runs `steps` as one protected block: any failure becomes the route's error line. True when
// every step was carried out.
template <typename Steps>
bool Protected(std::string_view errorPattern, LogSink& log, Steps&& steps) {
  std::string description;
  try {
    steps();
    return true;
  } catch (const PackagingError& e) {
    description = e.what();  // already GBK
  } catch (const std::exception& e) {
    description = Utf8ToGbkLenient(e.what());
  } catch (...) {
    description = "unknown error";
  }
  log.AppendLog(kLogError, Format(errorPattern, {description}));
  return false;
}

// After the first command: a card that refused it has been closed (and logged as gone) and
// cannot carry the delivery; otherwise the link watches it to its end.
DeliveryStart Watch(ControllerLink& link, DeliveryRoute route, int k) {
  if (!link.SlotConnected(k)) return DeliveryStart::kFailed;
  link.WatchDelivery(route, k);
  return DeliveryStart::kSent;
}

}  // namespace

DeliveryStart DeliverProgram(ControllerLink& link, const DeliverySettings& settings,
                             const std::string& pictureList, const Clock& clock, LogSink& log, int k,
                             StagedProgram* shared) {
  link.BeginDelivery(k);
  if (!link.SlotConnected(k)) return DeliveryStart::kNoCard;
  const Client_record& slot = link.Slot(k);
  const int width = settings.area.isEmpty() ? slot.width : settings.area.width();
  const int height = settings.area.isEmpty() ? slot.height : settings.area.height();
  StagedProgram own;
  StagedProgram& staged = shared ? *shared : own;

  if (settings.config.sendkind == 1) {
    const bool sent = Protected(Gbk<"发送节目出现错误: %s">(), log, [&] {
      link.SetSlotPictureList(k, pictureList);
      if (!staged.staged) {
        staged.programId = FormatDateTime("yyyymmddhhnnss", clock.Now());
        staged.entries.clear();
        staged.n = StagePictures(slot.pictureList, settings.config.FileBaseDir, log, settings.pictureFolder,
                                 settings.namePrefix, &staged.entries);
        WriteProgramFiles(settings.config.FileBaseDir, width, height, staged.programId, staged.n,
                          settings.namePrefix);
        staged.staged = true;
      }
      std::string download = BuildDownloadCommand(settings.config.HttpBaseDir, settings.config.FileBaseDir,
                                                  staged.programId, staged.n, settings.namePrefix);
      std::string play = BuildPlayCommand(staged.programId);
      link.StoreProgramCommands(std::move(download), std::move(play), k);
      log.AppendLog(kLogSent, Format(Gbk<"向 [标签: %s, 名称: %s] 发送数据...">(),
                                     {slot.barcode, slot.controllerName}));
      link.SendToSlot(k, kDeliveryCleanUpCommand, kFrameKindCommand);
    });
    return sent ? Watch(link, DeliveryRoute::kProgram, k) : DeliveryStart::kFailed;
  }

  const bool sent = Protected(Gbk<"发送动态区数据出现错误: %s">(), log, [&] {
    link.SetSlotPictureList(k, pictureList);
    if (!staged.staged) {
      staged.entries.clear();
      staged.n = StagePictures(slot.pictureList, settings.config.FileBaseDir, log, settings.pictureFolder,
                               settings.namePrefix, &staged.entries);
      staged.staged = true;
    }
    std::string dynamic =
        BuildDynamicCommand(settings.config.HttpBaseDir, width, height, staged.n, settings.config.stuntType,
                            settings.config.stuntSpeed, settings.config.stayTime, settings.namePrefix);
    link.StoreDynamicCommand(dynamic, k);
    log.AppendLog(kLogSent, Format(Gbk<"向 [标签: %s, 名称: %s] 发送动态区数据...">(),
                                   {slot.barcode, slot.controllerName}));
    link.SendToSlot(k, dynamic, kFrameKindCommand);
  });
  return sent ? Watch(link, DeliveryRoute::kDynamic, k) : DeliveryStart::kFailed;
}

}  // namespace aqled

#include "guiobserver.h"

#include "app/MyTableController.h"
#include "app/dialogs.h"
#include "catalogue/checklist.h"
#include "results/saver.h"

namespace lumafind {

void GuiScanObserver::begin(FileSaver *saver, const MediumRef &medium)
{
    saver_ = saver;
    thumbnails_ = std::make_unique<ThumbnailPipeline>(c_->Null_Image_Data, [c = c_](MyImageObject &&item) {
        onGuiThread(c, [c, item = std::move(item)]() mutable { c->addImageWithData(std::move(item)); });
    }, medium);
}

void GuiScanObserver::fileStarted(const FileStart &f)
{
    saver_->started(f);
}

void GuiScanObserver::fileData(uint64_t serial, const unsigned char *bytes, size_t length)
{
    saver_->data(serial, bytes, length);
}

void GuiScanObserver::fileDropped(uint64_t serial)
{
    saver_->dropped(serial);
}

void GuiScanObserver::passStarted(const PassStart &p)
{
    onGuiThread(c_, [c = c_, p] { c->onPassStarted(p); });
}

void GuiScanObserver::fileFound(FoundFile &&f)
{
    if (saver_)
        saver_->add(f);  // written as it is found
    if (!f.bytes.isNull()) {
        MyImageObject item;
        item.image_Name = f.name;
        item.image_UID = f.uid;
        item.File_Start_Sector = f.startSector;
        item.File_End_Sector = f.endSector;
        item.pass = f.tag;
        item.carvedBytes = f.carvedBytes;
        item.endsAtNextFile = f.endsAtNextFile;
        thumbnails_->submit(f.bytes.toByteArray(), ExportItem::of(f), std::move(item));
        return;
    }
    MyImageObject item;
    if (!addImageWithData_2(f.name, f.uid, f.startSector, f.endSector, &item))
        return;
    item.pass = f.tag;
    item.carvedBytes = f.carvedBytes;
    item.endsAtNextFile = f.endsAtNextFile;
    onGuiThread(c_, [c = c_, item = std::move(item)]() mutable { c->addImageWithData_2(std::move(item)); });
}

void GuiScanObserver::unreadableSectors(uint64_t first, uint64_t count)
{
    onGuiThread(c_, [c = c_, first, count] { c->onUnreadableSectors(first, count); });
}

void GuiScanObserver::alert(const QString &message, const QString &informative)
{
    onGuiThread(c_, [c = c_, message, informative] { c->workerAlert(message, informative); });
}

void GuiScanObserver::openFailed()
{
    onGuiThread(c_, [c = c_] { c->onOpenFailed(); });
}

void GuiScanObserver::endTimer()
{
    onGuiThread(c_, [c = c_] { c->endProgressTimer(); });
}

void GuiScanObserver::endOfScan(const ScanSummary &s)
{
    // Every thumbnail reaches the browser before the end-of-scan window.
    if (thumbnails_)
        thumbnails_->drain();
    // The end-of-scan window comes after the last queued file is written, and after the files
    // saved before what the card remembers of them was known are saved again with it.
    if (saver_) {
        if (!s.stopped && !s.failed)
            saver_->reconcile();
        saver_->finish();
    }
    onGuiThread(c_, [c = c_, s] { c->onEndOfScan(s); });
}

} // namespace lumafind

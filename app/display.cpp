// The message bar and the status icons.
#include "../lib/firmware/firmware.h"
#include "../lib/str/str.h"
#include "Brimvale.h"
#include "command.h"
#include "display.h"
#include "images.h"

// TAP_SysOsdControl's first argument: the firmware's own display.
#define SYSTEM_OSD 1
#define SYSTEM_OSD_HIDE 0
#define SYSTEM_OSD_SHOW 1

// The message bar: a box of grey edges and near-black fill, pale yellow text.
#define BAR_X 30
#define BAR_Y 65
#define BAR_W 660
#define BAR_H 30
#define BAR_FLAG 2
#define BAR_EDGE_COLOUR 0xff7f7f7f
#define BAR_FILL_COLOUR 0xff181818
#define BAR_TEXT_COLOUR 0xffffffe0
#define BAR_TEXT_X 3
#define BAR_TEXT_Y 6
#define BAR_TEXT_END 657
#define BAR_TEXT_ALIGN 1

// The icon row: icons 60 pixels apart, filling from the right.
#define ROW_X 90
#define ROW_Y 30
#define ROW_W 600
#define ROW_H 60
#define ROW_FLAG 8192
#define ICON_STEP 60
#define ICON_X 54            // every x below is added to imgoffset
#define REC_MARK_X 56
#define REC_MARK_Y 41
#define COUNT_RIGHT_X 89     // mounted shares, or failed ones when none mounted
#define COUNT_LEFT_X 57      // failed shares beside mounted ones
#define COUNT_Y 42
#define COUNT_END 120
#define COUNT_COLOUR 0xffeeeeee
#define LABEL_X 55
#define LABEL_Y 1
#define LABEL_END 58         // plus the label's width
#define LABEL_MIN_WIDTH 9
#define LABEL_COLOUR 0xffeeeeee
#define LABEL_BOX_COLOUR 0xff7b7b7b
#define ICON_SHOW_TICKS 500
#define NUMBER_TEXT_SIZE 12  // "-2147483648"

#define SPRITE_OFF 0
#define SPRITE_ON 1
#define LUT_NONE 0
#define FONT_DEFAULT 0
#define FONT_SIZE_DEFAULT 0
#define DOT_OFF 0
#define ALIGN_LEFT 0

// imgoffset at which LastTry's icon stands. Kept rather than worked back
// from imgoffset, which stops at 0: a try icon drawn at the left end would
// otherwise have its outcome drawn half over its neighbours.
static int sLastTryOffset;

// A display time `ticks` from now. 0 means "nothing shown", so a time that
// wraps onto it would never expire.
static dword ExpiryIn(dword ticks)
{
  dword tick = TAP_GetTick() + ticks;
  return tick != 0 ? tick : 1;
}

void ShowLog(const char *text, dword ticks)
{
  TAP_SysOsdControl(SYSTEM_OSD, SYSTEM_OSD_HIDE);
  // A bar already shown is drawn over in place.
  if(debugtick == 0) inforegion = TAP_Osd_Create(BAR_X, BAR_Y, BAR_W, BAR_H, LUT_NONE, BAR_FLAG);
  TAP_Osd_Draw3dBoxFill(inforegion, 0, 0, BAR_W, BAR_H, BAR_EDGE_COLOUR, BAR_EDGE_COLOUR, BAR_FILL_COLOUR);
  TAP_Osd_PutS(inforegion, BAR_TEXT_X, BAR_TEXT_Y, BAR_TEXT_END, text != NULL ? text : "", BAR_TEXT_COLOUR,
               BAR_FILL_COLOUR, FONT_DEFAULT, FONT_SIZE_DEFAULT, DOT_OFF, BAR_TEXT_ALIGN);
  debugtick = ExpiryIn(ticks);
  TAP_Osd_Sync();
}

void HideLog(void)
{
  // A region number from an earlier bar may since belong to someone else.
  if(debugtick != 0) TAP_Osd_Delete(inforegion);
  TAP_SysOsdControl(SYSTEM_OSD, SYSTEM_OSD_SHOW);
  debugtick = 0;
  TAP_Osd_Sync();
  // A failed start-up ends only once its message has been read.
  if(tapexit == 1)
  {
    // A portmap started before a later check failed (two servers on one
    // folder) would outlive the plug-in, and the next start's portmap fail.
    // Signalled once only: the number may belong to another process later.
    if(pid > 0) killprocess(pid);
    pid = 0;
    FreeFirmwareDat();
    TAP_Exit();
  }
}

static void PutCount(int count, int x)
{
  char number[NUMBER_TEXT_SIZE];
  StrFormat(number, sizeof(number), "%d", count);
  TAP_Osd_PutS(mountregion, (dword)x, COUNT_Y, (dword)(imgoffset + COUNT_END), number, COUNT_COLOUR, 0,
               FONT_DEFAULT, FONT_SIZE_DEFAULT, DOT_OFF, ALIGN_LEFT);
}

static void PutLabel(int i)
{
  char number[NUMBER_TEXT_SIZE];
  StrFormat(number, sizeof(number), "%d", i);
  int width = TAP_Osd_GetW(number, FONT_DEFAULT, FONT_SIZE_DEFAULT);
  if(width < LABEL_MIN_WIDTH) width = LABEL_MIN_WIDTH;
  TAP_Osd_PutS(mountregion, (dword)(imgoffset + LABEL_X), LABEL_Y, (dword)(imgoffset + LABEL_END + width), number,
               LABEL_COLOUR, LABEL_BOX_COLOUR, FONT_DEFAULT, FONT_SIZE_DEFAULT, DOT_OFF, ALIGN_LEFT);
}

void ShowMount(int ok, int failed, int i)
{
  if(Silentmode != 0) return;
  if(i < 1 || i > MAX_SERVERS) return;

  // An attempt's outcome takes the place of its own try icon. After the row
  // was removed that icon is gone, and the outcome starts a new row.
  if(LastTry != 0 && LastTry == i && mountinfo != 0) imgoffset = sLastTryOffset;
  LastTry = 0;

  if(mountinfo == 0) mountregion = TAP_Osd_Create(ROW_X, ROW_Y, ROW_W, ROW_H, LUT_NONE, ROW_FLAG);

  int x = imgoffset + ICON_X;
  if(ok == MOUNT_DISCONNECTED && failed == MOUNT_DISCONNECTED)
  {
    TAP_Osd_PutGd(mountregion, x, 0, &_disconnected_Gd, SPRITE_OFF);
    ServerTable[i].nextProbeTick = TAP_GetTick() + (dword)ServerTable[i].pingGap * TICKS_PER_SECOND;
    showmounttick = ExpiryIn(ICON_SHOW_TICKS);
  }
  else if(ok > 0 && failed == 0)
  {
    TAP_Osd_PutGd(mountregion, x, 0, &_ok_Gd, SPRITE_OFF);
    // The recording folder lives on server 1.
    if(NASRecord == 1 && i == 1)
      TAP_Osd_PutGd(mountregion, imgoffset + REC_MARK_X, REC_MARK_Y, &_recManual_Gd, SPRITE_ON);
    PutCount(ok, imgoffset + COUNT_RIGHT_X);
    showmounttick = ExpiryIn(ICON_SHOW_TICKS);
  }
  else if(ok > 0 && failed > 0)
  {
    TAP_Osd_PutGd(mountregion, x, 0, &_ok_failed_Gd, SPRITE_ON);
    PutCount(ok, imgoffset + COUNT_RIGHT_X);
    PutCount(failed, imgoffset + COUNT_LEFT_X);
    showmounttick = ExpiryIn(ICON_SHOW_TICKS);
  }
  else if(ok == 0 && failed > 0)
  {
    TAP_Osd_PutGd(mountregion, x, 0, &_failed_Gd, SPRITE_ON);
    PutCount(failed, imgoffset + COUNT_RIGHT_X);
    showmounttick = ExpiryIn(ICON_SHOW_TICKS);
  }
  else
  {
    // No expiry of its own: it stays until its outcome or another icon's
    // expiry removes the row.
    TAP_Osd_PutGd(mountregion, x, 0, &_try_Gd, SPRITE_ON);
    LastTry = i;
    sLastTryOffset = imgoffset;
  }

  if(TotalNAS >= 2) PutLabel(i);

  // Past the left end every further icon is drawn over the last place.
  imgoffset -= ICON_STEP;
  if(imgoffset < 0) imgoffset = 0;
  TAP_Osd_Sync();
  mountinfo = 1;
}

void HideMount(void)
{
  int shown = mountinfo != 0;
  imgoffset = IMG_OFFSET_START;
  showmounttick = 0;
  mountinfo = 0;
  // The try icon it named is gone with the row.
  LastTry = 0;
  // A region number from an earlier row may since belong to someone else.
  if(shown) TAP_Osd_Delete(mountregion);
  TAP_Osd_Sync();
}

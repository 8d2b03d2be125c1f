+0  event  TAP_Main
+0  shell  "cd /mnt/hd/ProgramFiles; chmod 555 busybox" -> 0
+0  shell  "portmap" -> 1
+0  shell  "ps > /mnt/hd/ProgramFiles/Settings/Brimvale/ps.txt" -> 0
+0  osd  TAP_Osd_Create(30, 65, 660, 30, 2) -> 1
+0  osd  TAP_Osd_PutS(1, 3, 6, 657, 0xffffffe0, 0xff181818, 0, 0, 0, 1) "Portmap failed - TAP will be terminated!"
+0  event  TAP_Main -> 1
+300  osd  TAP_Osd_Delete(1)
+300  system  TAP_Exit

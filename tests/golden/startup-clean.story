+0  event  TAP_Main
+0  shell  "cd /mnt/hd/ProgramFiles; chmod 555 busybox" -> 0
+0  shell  "portmap" -> 0
+0  shell  "ps > /mnt/hd/ProgramFiles/Settings/Brimvale/ps.txt" -> 0
+0  event  TAP_Main -> 1
+11  shell  "ping -c1 -W2 192.168.178.20 > /mnt/hd/ProgramFiles/Settings/Brimvale/1.ping" -> 0
+222  shell  "ping -c1 -W2 192.168.178.20 > /mnt/hd/ProgramFiles/Settings/Brimvale/1.ping" -> 0
+433  shell  "ping -c1 -W2 192.168.178.20 > /mnt/hd/ProgramFiles/Settings/Brimvale/1.ping" -> 0
+513  osd  TAP_Osd_Create(90, 30, 600, 60, 8192) -> 1
+513  shell  "mkdir "/mnt/hd/MediaFiles/DiskStation"" -> 0
+513  network  mounted 192.168.178.20:/volume1/video on /mnt/hd/MediaFiles/DiskStation
+513  shell  "mount "192.168.178.20:/volume1/video" "/mnt/hd/MediaFiles/DiskStation" " -> 0
+513  osd  TAP_Osd_PutS(1, 589, 42, 620, 0xffeeeeee, 0x00000000, 0, 0, 0, 0) "1"
+644  shell  "ping -c1 -W2 192.168.178.20 > /mnt/hd/ProgramFiles/Settings/Brimvale/1.ping" -> 0
+1014  osd  TAP_Osd_Delete(1)
+3000  event  event 0x900 0x0
+3000  network  unmounted /mnt/hd/MediaFiles/DiskStation
+3000  shell  "umount "/mnt/hd/MediaFiles/DiskStation"" -> 0
+3000  shell  "rmdir "/mnt/hd/MediaFiles/DiskStation"" -> 0
+3000  shell  "umount "/mnt/hd/MP3Files/DiskStation"" -> 1
+3000  shell  "umount "/mnt/hd/PhotoFiles/DiskStation"" -> 1
+3000  shell  "umount "/mnt/hd/DataFiles/DiskStation"" -> 1
+3000  shell  "kill -15 300" -> 0
+3000  event  event 0x900 -> 0x0

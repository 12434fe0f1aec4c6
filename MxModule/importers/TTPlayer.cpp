// TTPlayer's playlists and music folders, for the discovery of other players.
#include "MxModule/foundation/MxPublic.h"

// TTPlayer's reader is not part of the module yet: the player is never found.
void CMxPublic::FindTTPlayer(OTHERPLAYERMAP*, HWND) {}

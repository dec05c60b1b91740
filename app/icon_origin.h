// Where the icon of a minimised window is drawn.
#ifndef BRINDLEX_APP_ICON_ORIGIN_H_
#define BRINDLEX_APP_ICON_ORIGIN_H_

struct IconOrigin {
  int x;
  int y;
};

// The icon centred in the client area, each coordinate rounded toward zero.
inline IconOrigin CentredIconOrigin(int client_width, int client_height, int icon_width,
                                    int icon_height) {
  return {(client_width - icon_width + 1) / 2, (client_height - icon_height + 1) / 2};
}

#endif  // BRINDLEX_APP_ICON_ORIGIN_H_

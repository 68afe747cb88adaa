/* libvips doing tarvex-batch's jobs, for bench/batch_vs_vips.sh only:
 *   vips_peer frame FRAME QUALITY OUTDIR PHOTO...
 *   vips_peer mix FIRST OPACITY QUALITY OUTDIR PHOTO...
 * Each photo: decoded and turned upright as its orientation tag says (HEIF
 * files come upright); the frame or first picture stretched to its size by
 * the nearest pixel; the frame laid where it is not the key colour (the
 * colour of its middle), or the first picture blended at OPACITY / 255;
 * saved as JPEG at QUALITY with 4:2:0 chroma, the photo's metadata kept. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vips/vips.h>

static VipsImage* framed(VipsImage* frame, VipsImage* photo, const double key[3])
{
    VipsImage *big, *equal, *mask, *out;
    if (vips_resize(frame, &big, (double)photo->Xsize / frame->Xsize, "vscale", (double)photo->Ysize / frame->Ysize,
                    "kernel", VIPS_KERNEL_NEAREST, NULL) ||
        vips_equal_const(big, &equal, key, 3, NULL) || vips_bandand(equal, &mask, NULL) ||
        vips_ifthenelse(mask, photo, big, &out, NULL))
        vips_error_exit(NULL);
    g_object_unref(big);
    g_object_unref(equal);
    g_object_unref(mask);
    return out;
}

static VipsImage* mixed(VipsImage* first, VipsImage* photo, int opacity)
{
    VipsImage *big, *a, *b, *sum, *out;
    if (vips_resize(first, &big, (double)photo->Xsize / first->Xsize, "vscale", (double)photo->Ysize / first->Ysize,
                    "kernel", VIPS_KERNEL_NEAREST, NULL) ||
        vips_linear1(big, &a, opacity / 255.0, 0.5, NULL) || vips_linear1(photo, &b, (255 - opacity) / 255.0, 0, NULL) ||
        vips_add(a, b, &sum, NULL) || vips_cast(sum, &out, VIPS_FORMAT_UCHAR, NULL))
        vips_error_exit(NULL);
    g_object_unref(big);
    g_object_unref(a);
    g_object_unref(b);
    g_object_unref(sum);
    return out;
}

int main(int argc, char** argv)
{
    if (VIPS_INIT(argv[0]))
        vips_error_exit(NULL);
    const int framing = argc > 1 && strcmp(argv[1], "frame") == 0;
    const int first = framing ? 5 : 6;
    if (argc <= first) {
        fprintf(stderr, "usage: vips_peer frame FRAME QUALITY OUTDIR PHOTO... | mix FIRST OPACITY QUALITY OUTDIR PHOTO...\n");
        return 2;
    }
    VipsImage* fixed = vips_image_new_from_file(argv[2], NULL);
    if (!fixed)
        vips_error_exit(NULL);
    const int opacity = framing ? 0 : atoi(argv[3]);
    const int quality = atoi(argv[framing ? 3 : 4]);
    const char* outdir = argv[framing ? 4 : 5];
    double key[3] = {0, 0, 0};
    if (framing) {
        double* pixel;
        int bands;
        if (vips_getpoint(fixed, &pixel, &bands, fixed->Xsize / 2, fixed->Ysize / 2, NULL))
            vips_error_exit(NULL);
        for (int i = 0; i < 3 && i < bands; ++i)
            key[i] = pixel[i];
        g_free(pixel);
    }
    for (int i = first; i < argc; ++i) {
        /* Read front to back where it is upright; a turn needs the whole. */
        VipsImage* stored = vips_image_new_from_file(argv[i], "access", VIPS_ACCESS_SEQUENTIAL, NULL);
        if (stored && vips_image_get_orientation(stored) > 1) {
            g_object_unref(stored);
            stored = vips_image_new_from_file(argv[i], NULL);
        }
        VipsImage* photo;
        if (!stored || vips_autorot(stored, &photo, NULL))
            vips_error_exit(NULL);
        g_object_unref(stored);
        VipsImage* out = framing ? framed(fixed, photo, key) : mixed(fixed, photo, opacity);
        const char* slash = strrchr(argv[i], '/');
        char path[4096];
        /* The photo's name, its extension made .jpg, as tarvex-batch --format jpg names it. */
        snprintf(path, sizeof path, "%s/Stn000%s", outdir, slash ? slash + 1 : argv[i]);
        char* dot = strrchr(path, '.');
        if (dot && dot > strrchr(path, '/'))
            strcpy(dot, ".jpg");
        if (vips_jpegsave(out, path, "Q", quality, "subsample_mode", VIPS_FOREIGN_SUBSAMPLE_ON, NULL))
            vips_error_exit(NULL);
        g_object_unref(out);
        g_object_unref(photo);
    }
    g_object_unref(fixed);
    vips_shutdown();
    return 0;
}

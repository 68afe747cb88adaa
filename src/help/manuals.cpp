// The two programs' manuals: every text their --help, their manual pages
// and the completion show.
#include "manual.h"

namespace tarvex::help {

const Manual& batchManual()
{
    static const Manual manual{
        "tarvex-batch",
        "pune o rama sau o prima poza peste multe fotografii",
        {"frame [optiuni] RAMA POZA|DOSAR...", "mix [optiuni] PRIMA POZA|DOSAR...",
         "frame|mix [optiuni] RAMA|PRIMA --files-from LISTA"},
        "Pune rama sau prima poza peste fiecare POZA, cum face fereastra Tarvex, si salveaza fiecare rezultat ca "
        "Stn000<numele pozei> (numerotat mai departe, fara sa inlocuiasca vreun fisier) langa poza sau in --out, in "
        "formatul pe care il spune numele (JPEG, PNG, TIFF, WebP, HEIC, AVIF; BMP pentru orice alt nume), cu "
        "metadatele pozei.\n\n"
        "Un DOSAR este cautat pentru fisiere de poze, dupa extensie (bmp, jpg, jpeg, png, tif, tiff, webp, heic, "
        "heif, avif, in orice fel de litere), cu subdosarele lui daca se da --recursive. Fisierele si dosarele "
        "ascunse sunt sarite, iar legaturile catre dosare nu sunt urmate. Pozele sunt luate in ordinea numelor. Cu "
        "--out, rezultatul unei poze gasite intr-un dosar merge pe acelasi drum sub --out; cel al unei poze numite "
        "pe linia de comanda merge direct in --out.\n\n"
        "Fisierele cu nume de rezultate (Stn si trei cifre) sunt sarite, asa ca aceeasi comanda data de doua ori nu "
        "pune rama si peste rezultate.",
        {
            {"r", "recursive", nullptr, "Cauta pozele si in subdosarele dosarelor date."},
            {nullptr, "files-from", "LISTA",
             "Ia numele pozelor si din fisierul LISTA (- pentru intrarea standard), cate unul pe rand. Un nume "
             "relativ care nu iese din dosarul curent isi pastreaza dosarul sub --out, cum il listeaza find.",
             "<file>"},
            {"0", "null", nullptr, "Numele din --files-from se termina cu NUL, nu cu un rand nou, ca la find -print0."},
            {nullptr, "skip-done", nullptr,
             "Sare pozele care au deja un rezultat numerotat acolo unde ar merge al lor, in acelasi format (o rulare "
             "oprita poate fi reluata, iar una de fiecare seara lucreaza doar pozele noi). Nu citeste nicio poza ca "
             "sa hotarasca."},
            {nullptr, "report", "FISIER",
             "Scrie in FISIER (- pentru iesirea standard) cate un obiect JSON pe rand pentru fiecare poza, cand se "
             "termina: photo, result, status (saved, failed sau skipped), reason, metadata_dropped, milliseconds, "
             "bytes; apoi un obiect cu totalurile (summary).",
             "<file>"},
            {nullptr, "flip-first", "h|v|hv", "Oglindeste prima poza sau rama: h, v sau hv.", "h v hv"},
            {nullptr, "flip-second", "h|v|hv", "Oglindeste a doua poza (fotografia): h, v sau hv.", "h v hv"},
            {nullptr, "opacity", "N", "mix: cat se vede din prima poza, de la 0 la 255 (implicit 128)."},
            {nullptr, "offset", "X,Y", "frame: muta rama cu X, Y pixeli ai fotografiei, dupa ce este pusa."},
            {nullptr, "key-tolerance", "N",
             "frame: cat de departe de culoarea cheie poate fi un pixel si sa lase totusi fotografia sa se vada, de "
             "la 0 la 255 (0 = exact culoarea cheie). Implicit: 64 pentru ramele JPEG si WebP cu pierderi, 0 pentru "
             "celelalte. Ramele cu transparenta folosesc propriul canal alfa."},
            {nullptr, "out", "DOSAR", "Salveaza in DOSAR (creat daca lipseste), nu langa fiecare fotografie.",
             "<folder>"},
            {nullptr, "format", "FORMAT",
             "Salveaza fiecare rezultat ca bmp, jpg, png, tiff, webp, heic sau avif, cu extensia numelui schimbata "
             "la fel (implicit: formatul pe care il spune numele).",
             "bmp jpg png tiff webp heic avif"},
            {nullptr, "quality", "N",
             "Calitatea rezultatelor JPEG, WebP cu pierderi, HEIC si AVIF, de la 1 la 100 (implicit: a fotografiei, "
             "daca este JPEG; altfel 92 pentru JPEG, 90 pentru WebP, 65 pentru HEIC, 90 pentru AVIF)."},
            {nullptr, "include-results", nullptr,
             "Ia si fisierele cu nume de rezultate numerotate (Stn000...), pe care altfel le sare."},
            {nullptr, "allow-incomplete", nullptr,
             "Salveaza si fotografiile din care s-a putut citi doar o parte (altfel esuate)."},
            {nullptr, "memory", "MiB",
             "Cat pot ocupa deodata pozele fotografiilor lucrate, in MiB (implicit: jumatate din memoria "
             "calculatorului); fotografiile asteapta, nu o depasesc."},
            {nullptr, "jobs", "N", "Cate fotografii se lucreaza deodata (implicit: cate nuclee are procesorul)."},
            {nullptr, "quiet", nullptr, "Nu afiseaza nimic in afara de erori."},
            {"h", "help", nullptr, "Afiseaza acest ajutor."},
            {"v", "version", nullptr, "Afiseaza versiunea."},
        },
        {
            {"COD DE IESIRE",
             "0 cand toate pozele au fost salvate (sau sarite), 1 cand unele nu, 2 pentru o eroare de folosire, o "
             "rama ori prima poza care nu poate fi deschisa sau un dosar ori o lista care nu poate fi citita, 130 "
             "cand este oprit cu Ctrl+C (pozele incepute, chiar si cele abia citite, sunt terminate)."},
            {"IESIRE",
             "Cand iesirea standard nu este un terminal, primeste drumul fiecarui fisier salvat, cate unul pe rand. "
             "Cand iesirea de erori este un terminal, arata mersul lucrului (poze pe secunda, timpul ramas) si un "
             "rezumat. Pozele care nu pot fi deschise sau salvate sunt spuse pe iesirea de erori; celelalte merg "
             "mai departe."},
            {"EXEMPLE",
             "Rama peste toate pozele unui an, cu dosarele lor, in framed/:\n\n"
             "  tarvex-batch frame -r --out framed rama.png Poze/2024\n\n"
             "Reluata dupa o oprire, sau in fiecare seara, doar pozele noi:\n\n"
             "  tarvex-batch frame -r --skip-done --out framed rama.png Poze/2024\n\n"
             "O sigla la un sfert din opacitate peste pozele din lista lui find, cu un raport:\n\n"
             "  find produse -name '*.jpg' -print0 |\n"
             "    tarvex-batch mix --opacity 64 --files-from - -0 \\\n"
             "      --report raport.json logo.png\n\n"
             "O biblioteca mai mare decat un calculator, pe mai multe, cu GNU parallel (cate o parte a listei la "
             "fiecare):\n\n"
             "  cd Poze && find . -type f -iname '*.jpg' -print0 |\n"
             "    parallel --pipe --recend '\\0' --wd . --sshlogin 8/:,8/foto@server \\\n"
             "      tarvex-batch frame --files-from - -0 --skip-done \\\n"
             "        --out /mnt/framed /mnt/rama.png"},
        },
    };
    return manual;
}

const Manual& windowManual()
{
    static const Manual manual{
        "tarvex",
        "mixeaza doua poze sau pune o rama peste o poza",
        {"[optiuni] [PRIMA] [A_DOUA]"},
        "Deschide fereastra Tarvex. Intai alegeti ce faceti: Mixeaza Poze pune prima poza peste a doua cu o "
        "opacitate aleasa pe o bara; Adauga Rama pune o rama, a carei fereastra este de o singura culoare, peste o "
        "poza. Rezultatul se salveaza langa a doua poza, ca Stn000<numele ei>, fara sa inlocuiasca vreun fisier.\n\n"
        "Fisierele date se deschid cand alegeti un mod, ca si cum ar fi fost alese in dialogul de deschidere: un "
        "singur fisier este poza (a doua), doua sunt prima poza (sau rama) si poza. Pentru multe poze deodata, "
        "folositi tarvex-batch.",
        {
            {"h", "help", nullptr, "Afiseaza acest ajutor."},
            {"v", "version", nullptr, "Afiseaza versiunea."},
        },
        {
            {"COD DE IESIRE", "0 la inchiderea programului, 2 cand nu exista un ecran sau linia de comanda este gresita."},
            {"MEDIU",
             "Tarvex are nevoie de un ecran (DISPLAY sau WAYLAND_DISPLAY). Fara el, poate rula pe unul virtual:\n\n"
             "  xvfb-run tarvex"},
        },
    };
    return manual;
}

}  // namespace tarvex::help

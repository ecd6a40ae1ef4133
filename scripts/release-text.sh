#!/bin/sh
# Writes the text for users that goes with a release (dist/README.txt) to standard output: what
# the files are and how to check them, in French and English, then the licence of the bundled
# libjpeg-turbo as its source package gives it. scripts/release.sh runs it with these set:
#   RELEASE_VERSION, RELEASE_COMMIT (empty outside a git checkout), RELEASE_SIGNER (empty when the
#   programs are not signed), LIBJPEG_VERSION, LIBJPEG_DEBIAN_VERSION and LIBJPEG_SOURCE (the
#   unpacked source tree).
set -eu

# The IJG's terms are the section LEGAL ISSUES of README.ijg, up to the next titled section.
ijg_terms=$(awk '
  $0 == "LEGAL ISSUES" { on = 1 }
  on && /^=+$/ && previous != "LEGAL ISSUES" { exit }
  on && seen { print previous }
  on { previous = $0; seen = 1 }
' "$LIBJPEG_SOURCE/README.ijg")
if [ -z "$ijg_terms" ]; then
  echo "release-text: no LEGAL ISSUES section in $LIBJPEG_SOURCE/README.ijg" >&2
  exit 1
fi

echo "Talvor Skarnel Installer $RELEASE_VERSION"
[ -z "$RELEASE_COMMIT" ] || echo "Commit $RELEASE_COMMIT"

cat <<EOF

------------------------------------------------------------------------------
Français
------------------------------------------------------------------------------

Fichiers :
  Talvor_Skarnel_Installer.exe  l'installeur : il inscrit la carte Talvor dans le
                                profil LX que vous choisissez dans sa fenêtre.
  talvor-apply.exe              la même modification en ligne de commande, pour un
                                déploiement sans intervention (talvor-apply.exe --help).
  SHA256SUMS                    l'empreinte SHA-256 de chacun des deux programmes.

Configuration requise : Windows XP SP3 ou plus récent, 32 ou 64 bits, et un
processeur de la classe du Pentium Pro (Pentium Pro, Pentium II ou plus récent,
AMD Athlon ou plus récent ; un Pentium MMX ou un AMD K6 ne suffit pas).

Vérifier un programme téléchargé : dans une invite de commandes ouverte dans son
dossier, tapez
    certutil -hashfile Talvor_Skarnel_Installer.exe SHA256
ou, dans PowerShell,
    Get-FileHash Talvor_Skarnel_Installer.exe -Algorithm SHA256
L'empreinte affichée doit être celle que SHA256SUMS donne pour ce fichier
(majuscules et minuscules sont équivalentes). Faites de même pour talvor-apply.exe.
Si elle diffère, le fichier est abîmé ou modifié : ne le lancez pas.

EOF
if [ -n "$RELEASE_SIGNER" ]; then
  cat <<EOF
Les deux programmes sont signés au nom de :
    $RELEASE_SIGNER
Windows montre cette signature dans les propriétés du fichier (onglet « Signatures
numériques ») et avant de lancer le programme ; dans PowerShell,
    Get-AuthenticodeSignature Talvor_Skarnel_Installer.exe
doit répondre Valid.
EOF
else
  cat <<EOF
Ces programmes ne sont pas signés : Windows les présente comme venant d'un éditeur
inconnu. Lancez-les seulement si leur empreinte est celle que publie leur source.
EOF
fi

cat <<EOF

L'installeur décode son logo avec libjpeg-turbo ; la licence de cette bibliothèque
suit, en anglais. Ce logiciel repose en partie sur le travail de l'Independent JPEG
Group.

------------------------------------------------------------------------------
English
------------------------------------------------------------------------------

Files:
  Talvor_Skarnel_Installer.exe  the installer: it writes the Talvor map set into
                                the LX profile that you choose in its window.
  talvor-apply.exe              the same change on the command line, for unattended
                                deployment (talvor-apply.exe --help).
  SHA256SUMS                    the SHA-256 sum of each of the two programs.

Requirements: Windows XP SP3 or later, 32- or 64-bit, and a processor of the
Pentium Pro's class (Pentium Pro, Pentium II or later, AMD Athlon or later; a
Pentium MMX or an AMD K6 will not do).

To check a downloaded program, open a command prompt in its folder and type
    certutil -hashfile Talvor_Skarnel_Installer.exe SHA256
or, in PowerShell,
    Get-FileHash Talvor_Skarnel_Installer.exe -Algorithm SHA256
The sum shown must be the one that SHA256SUMS gives for the file (upper and lower
case are the same). Do the same for talvor-apply.exe. If it differs, the file is
damaged or altered: do not run it.

EOF
if [ -n "$RELEASE_SIGNER" ]; then
  cat <<EOF
Both programs are signed in the name of:
    $RELEASE_SIGNER
Windows shows this signature in the file's properties (the "Digital Signatures"
tab) and before it starts the program; in PowerShell,
    Get-AuthenticodeSignature Talvor_Skarnel_Installer.exe
must answer Valid.
EOF
else
  cat <<EOF
These programs are not signed: Windows presents them as coming from an unknown
publisher. Run them only if their sums are the ones that their source publishes.
EOF
fi

cat <<EOF

------------------------------------------------------------------------------
libjpeg-turbo
------------------------------------------------------------------------------

This software is based in part on the work of the Independent JPEG Group.

Talvor_Skarnel_Installer.exe contains libjpeg-turbo $LIBJPEG_VERSION, built from Debian's
source package $LIBJPEG_DEBIAN_VERSION, which decodes the installer's logo. Its licence
follows as its source gives it: the file LICENSE.md, then the section LEGAL ISSUES
of the file README.ijg.

EOF
cat "$LIBJPEG_SOURCE/LICENSE.md"
printf '\n\n%s\n' "$ijg_terms"

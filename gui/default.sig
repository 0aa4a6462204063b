# Corvane's default signature table: the Macintosh type and creator that a
# PC file gets from its extension when it is copied onto a Mac volume or added
# to a project. One row a line: extension,TYPECREA,comment. The English rows
# come first; the French interface reads the rows after the "#[1]" line.
#
# Each pair is the one the Mac applications of the time wrote for such a file.
# Where the codes come from:
#  [A] Apple, FileTypesAndCreators.h (Universal Interfaces, Macintosh Easy
#      Open): SimpleText 'ttxt', MoviePlayer 'TVOD' with 'MooV', Word 'MSWD'
#      with 'WDBN', PowerPoint 'PPNT' with 'SLDS', StuffIt 'SIT!', Compact Pro
#      'CPCT' with 'PACT', Photoshop '8BIM', and the types 'GIFf', 'TIFF', 'PICT'.
#  [Q] Apple, QuickTimeComponents.h (QuickTime SDK), the kQTFileType codes:
#      'JPEG', 'PNGf', 'BMPf', 'GIFf', 'TIFF', '8BPS', 'AIFF', 'WAVE', 'Midi',
#      'ULAW', 'VfW ', 'mpg4', 'PDF ', 'SWFL'.
#  [N] The extension map Netatalk publishes (config/extmap.conf), the pairs
#      Mac file servers and download tools gave such files: PictureViewer
#      'ogle', Netscape 'MOSS', Acrobat Reader 'PDF ' with 'CARO', StuffIt
#      Expander 'SITx' ('ZIP ', 'SIT!', 'TEXT' for BinHex, 'SIT!' for
#      MacBinary, 'TARF'), Excel 'XCEL' with 'XLS ', Flash 'SWF2', 'MPG3',
#      'MPEG', 'WAVE', 'Midi', 'ULAW', 'VfW ' with 'TVOD', Word for RTF.
# Where the sources differ, the type QuickTime registered is kept ('PNGf' and
# 'BMPf', where [N] gives 'PNG ' and 'BMPp'), and sounds open in MoviePlayer.

# Text: SimpleText [A][N]; Word [A][N]; Netscape [N]; Acrobat Reader [N]; Excel [N]
txt,TEXTttxt,Text
text,TEXTttxt,Text
rtf,TEXTMSWD,Rich Text Format (Word)
htm,TEXTMOSS,Web page (Netscape)
html,TEXTMOSS,Web page (Netscape)
pdf,PDF CARO,PDF document (Acrobat Reader)
csv,TEXTXCEL,Comma-separated values (Excel)

# Office documents: Word [A][N]; Excel [N]; PowerPoint [A]
doc,WDBNMSWD,Word document
xls,XLS XCEL,Excel spreadsheet
ppt,SLDSPPNT,PowerPoint presentation

# Pictures: types [Q] and [A], PictureViewer 'ogle' [N]; Photoshop [A][Q][N]
jpg,JPEGogle,JPEG picture
jpeg,JPEGogle,JPEG picture
jpe,JPEGogle,JPEG picture
png,PNGfogle,PNG picture
gif,GIFfogle,GIF picture
tif,TIFFogle,TIFF picture
tiff,TIFFogle,TIFF picture
bmp,BMPfogle,Windows bitmap
pct,PICTogle,PICT picture
pict,PICTogle,PICT picture
psd,8BPS8BIM,Photoshop document

# Sound: types [Q] and [N], MoviePlayer (QuickTime Player) 'TVOD' [A][N]
mp3,MPG3TVOD,MP3 sound
aif,AIFFTVOD,AIFF sound
aiff,AIFFTVOD,AIFF sound
wav,WAVETVOD,WAV sound
mid,MidiTVOD,MIDI music
midi,MidiTVOD,MIDI music
au,ULAWTVOD,Sun audio

# Movies: types [A][Q][N], MoviePlayer 'TVOD' [A][N]; Flash [Q][N]
mov,MooVTVOD,QuickTime movie
qt,MooVTVOD,QuickTime movie
mpg,MPEGTVOD,MPEG movie
mpeg,MPEGTVOD,MPEG movie
mp4,mpg4TVOD,MPEG-4 movie
avi,VfW TVOD,AVI movie
swf,SWFLSWF2,Flash animation

# Archives and encodings: StuffIt Expander 'SITx' [N]; StuffIt 'SIT!' [A]; Compact Pro [A]
zip,ZIP SITx,ZIP archive
sit,SIT!SITx,StuffIt archive
hqx,TEXTSITx,BinHex file
bin,SIT!SITx,MacBinary file
tar,TARFSITx,Tar archive
cpt,PACTCPCT,Compact Pro archive

#[1] Les mêmes, commentés en français.

txt,TEXTttxt,Texte
text,TEXTttxt,Texte
rtf,TEXTMSWD,Texte RTF (Word)
htm,TEXTMOSS,Page web (Netscape)
html,TEXTMOSS,Page web (Netscape)
pdf,PDF CARO,Document PDF (Acrobat Reader)
csv,TEXTXCEL,Valeurs séparées par des virgules (Excel)

doc,WDBNMSWD,Document Word
xls,XLS XCEL,Feuille de calcul Excel
ppt,SLDSPPNT,Présentation PowerPoint

jpg,JPEGogle,Image JPEG
jpeg,JPEGogle,Image JPEG
jpe,JPEGogle,Image JPEG
png,PNGfogle,Image PNG
gif,GIFfogle,Image GIF
tif,TIFFogle,Image TIFF
tiff,TIFFogle,Image TIFF
bmp,BMPfogle,Image bitmap Windows
pct,PICTogle,Image PICT
pict,PICTogle,Image PICT
psd,8BPS8BIM,Document Photoshop

mp3,MPG3TVOD,Son MP3
aif,AIFFTVOD,Son AIFF
aiff,AIFFTVOD,Son AIFF
wav,WAVETVOD,Son WAV
mid,MidiTVOD,Musique MIDI
midi,MidiTVOD,Musique MIDI
au,ULAWTVOD,Son Sun audio

mov,MooVTVOD,Film QuickTime
qt,MooVTVOD,Film QuickTime
mpg,MPEGTVOD,Film MPEG
mpeg,MPEGTVOD,Film MPEG
mp4,mpg4TVOD,Film MPEG-4
avi,VfW TVOD,Film AVI
swf,SWFLSWF2,Animation Flash

zip,ZIP SITx,Archive ZIP
sit,SIT!SITx,Archive StuffIt
hqx,TEXTSITx,Fichier BinHex
bin,SIT!SITx,Fichier MacBinary
tar,TARFSITx,Archive tar
cpt,PACTCPCT,Archive Compact Pro

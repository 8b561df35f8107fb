#include "xmp_packet.h"

#include <QHash>
#include <QList>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <utility>

namespace keepframe {

namespace {

const QString kRdfNamespace = QStringLiteral("http://www.w3.org/1999/02/22-rdf-syntax-ns#");
const QString kMediaManagementNamespace = QStringLiteral("http://ns.adobe.com/xap/1.0/mm/");

struct Attribute {
    QString prefix, name, namespaceUri, value;
};

// One piece of a packet as the reader gives it.
struct Token {
    QXmlStreamReader::TokenType type = QXmlStreamReader::NoToken;
    QString prefix, name, namespaceUri;  // of an element; `name` is the target of a processing instruction
    QList<Attribute> attributes;
    QList<std::pair<QString, QString>> declarations;  // prefix (empty for the default namespace), namespace
    QString text;  // characters, comment or processing instruction data; the XML version of the document
    bool cdata = false;
};

QString qualified(const QString& prefix, const QString& name) {
    return prefix.isEmpty() ? name : prefix + ':' + name;
}

Token startElement(const QXmlStreamReader& xml) {
    Token t;
    t.type = QXmlStreamReader::StartElement;
    t.prefix = xml.prefix().toString();
    t.name = xml.name().toString();
    t.namespaceUri = xml.namespaceUri().toString();
    for (const QXmlStreamNamespaceDeclaration& d : xml.namespaceDeclarations())
        t.declarations.append({d.prefix().toString(), d.namespaceUri().toString()});
    for (const QXmlStreamAttribute& a : xml.attributes())
        t.attributes.append({a.prefix().toString(), a.name().toString(), a.namespaceUri().toString(),
                             a.value().toString()});
    return t;
}

// False when the text is not well-formed or brings a document type
// declaration or an entity of its own, neither of which XMP has.
bool readTokens(const QByteArray& text, QList<Token>& tokens) {
    QXmlStreamReader xml(text);
    while (!xml.atEnd()) {
        xml.readNext();
        Token t;
        t.type = xml.tokenType();
        switch (t.type) {
        case QXmlStreamReader::DTD:
        case QXmlStreamReader::EntityReference:
            return false;
        case QXmlStreamReader::StartDocument:
            t.text = xml.documentVersion().toString();
            break;
        case QXmlStreamReader::StartElement:
            t = startElement(xml);
            break;
        case QXmlStreamReader::Characters:
            t.text = xml.text().toString();
            t.cdata = xml.isCDATA();
            break;
        case QXmlStreamReader::Comment:
            t.text = xml.text().toString();
            break;
        case QXmlStreamReader::ProcessingInstruction:
            t.name = xml.processingInstructionTarget().toString();
            t.text = xml.processingInstructionData().toString();
            break;
        default:
            break;
        }
        tokens.append(std::move(t));
    }
    return !xml.hasError();
}

QByteArray writeTokens(const QList<Token>& tokens) {
    QByteArray out;
    QXmlStreamWriter xml(&out);
    for (const Token& t : tokens) {
        switch (t.type) {
        case QXmlStreamReader::StartDocument:
            if (!t.text.isEmpty()) xml.writeStartDocument(t.text);
            break;
        case QXmlStreamReader::EndDocument:
            xml.writeEndDocument();
            break;
        case QXmlStreamReader::StartElement:
            xml.writeStartElement(qualified(t.prefix, t.name));
            for (const auto& [prefix, uri] : t.declarations) xml.writeAttribute(qualified("xmlns", prefix), uri);
            for (const Attribute& a : t.attributes) xml.writeAttribute(qualified(a.prefix, a.name), a.value);
            break;
        case QXmlStreamReader::EndElement:
            xml.writeEndElement();
            break;
        case QXmlStreamReader::Characters:
            if (t.cdata) xml.writeCDATA(t.text);
            else xml.writeCharacters(t.text);
            break;
        case QXmlStreamReader::Comment:
            xml.writeComment(t.text);
            break;
        case QXmlStreamReader::ProcessingInstruction:
            xml.writeProcessingInstruction(t.name, t.text);
            break;
        default:
            break;
        }
    }
    return out;
}

bool slashed(const QString& uri) { return uri.endsWith('/') || uri.endsWith('#'); }

QString withSlash(const QString& uri) { return slashed(uri) ? uri : uri + '/'; }

bool isRdf(const Token& t, const char* name) {
    return t.namespaceUri == kRdfNamespace && t.name == QLatin1String(name);
}

// The prefix each namespace declaration of a packet gets: its own, unless the
// process's tables bind that prefix to another namespace, the packet bound it
// to another namespace before, or Exiv2 cannot name a property with it
// ("a.b"); then the prefix the packet gave that namespace before, or a new one.
class Bindings {
public:
    Bindings(const StandardNamespace& standard, QSet<QString> declared)
        : standard_(standard), declared_(std::move(declared)) {}

    QString give(const QString& prefix, const QString& uri) {
        if (!clashes(prefix, uri)) {
            bind(prefix, uri);
            return prefix;
        }
        if (givenFor_.contains(uri)) return givenFor_.value(uri);
        QString base = prefix;
        base.remove('.');
        for (int n = 1;; ++n) {
            const QString candidate = base + QString::number(n);
            if (declared_.contains(candidate) || bound_.contains(candidate) || !standard_(candidate).isEmpty())
                continue;
            bind(candidate, uri);
            return candidate;
        }
    }

private:
    bool clashes(const QString& prefix, const QString& uri) const {
        if (prefix.contains('.')) return true;
        const QString standard = standard_(prefix);
        if (!standard.isEmpty() && standard != uri) return true;
        return bound_.contains(prefix) && bound_.value(prefix) != uri;
    }
    void bind(const QString& prefix, const QString& uri) {
        bound_.insert(prefix, uri);
        if (!givenFor_.contains(uri)) givenFor_.insert(uri, prefix);
    }

    const StandardNamespace& standard_;
    QSet<QString> declared_;
    QHash<QString, QString> bound_;     // prefix -> namespace
    QHash<QString, QString> givenFor_;  // namespace -> the first prefix it got
};

// Renames the prefixes of `tokens` as Bindings gives them, each in the scope
// of its declaration; true when any was renamed.
bool bindPrefixes(QList<Token>& tokens, const StandardNamespace& standard) {
    QSet<QString> declared;
    for (const Token& t : tokens)
        for (const auto& d : t.declarations) declared.insert(d.first);
    Bindings bindings(standard, declared);
    QList<QHash<QString, QString>> scopes{{}};  // prefix as written -> prefix given
    bool renamed = false;
    for (Token& t : tokens) {
        if (t.type == QXmlStreamReader::EndElement && scopes.size() > 1) scopes.removeLast();
        if (t.type != QXmlStreamReader::StartElement) continue;
        QHash<QString, QString> scope = scopes.last();
        for (auto& [prefix, uri] : t.declarations) {
            if (prefix.isEmpty()) continue;
            const QString given = bindings.give(prefix, uri);
            if (given != prefix) renamed = true;
            scope.insert(prefix, given);
            prefix = given;
        }
        t.prefix = scope.value(t.prefix, t.prefix);
        for (Attribute& a : t.attributes) a.prefix = scope.value(a.prefix, a.prefix);
        scopes.append(scope);
    }
    return renamed;
}

// Where a walk through a packet's elements is: below which description, and
// on which path of property names (containers left out, so that
// <p><rdf:Bag><rdf:li> and a structure written either way read the same).
class RdfWalk {
public:
    void enter(const Token& t) {
        Open o;
        o.root = isRdf(t, "RDF");
        o.description = isRdf(t, "Description") && !open_.isEmpty() && open_.last().root;
        const bool container = isRdf(t, "Description") || isRdf(t, "Bag") || isRdf(t, "Seq") || isRdf(t, "Alt");
        // Exiv2 writes a namespace without a closing "/" with one: the path reads it with one either way.
        if (insideDescription() && !container) o.step = withSlash(t.namespaceUri) + t.name;
        open_.append(o);
    }
    void leave() {
        if (!open_.isEmpty()) open_.removeLast();
    }
    bool atDescription() const { return !open_.isEmpty() && open_.last().description; }
    // A property of the description itself (not a part of another).
    bool atProperty() const { return open_.size() > 1 && open_[open_.size() - 2].description; }
    QString path() const {
        QStringList steps;
        for (const Open& o : open_)
            if (!o.step.isEmpty()) steps << o.step;
        return steps.join(' ');
    }

private:
    bool insideDescription() const {
        for (const Open& o : open_)
            if (o.description) return true;
        return false;
    }

    struct Open {
        bool root = false;
        bool description = false;  // a description of the packet's subject, right below rdf:RDF
        QString step;              // the property name this element adds to the path
    };
    QList<Open> open_;
};

QString resourceKey(const QString& path, const QString& value) { return path + '\n' + value; }

const Attribute* attribute(const Token& t, const QString& namespaceUri, const char* name) {
    for (const Attribute& a : t.attributes)
        if (a.namespaceUri == namespaceUri && a.name == QLatin1String(name)) return &a;
    return nullptr;
}

// The text of the element that starts at tokens[i] when it holds nothing but text.
std::optional<QString> plainText(const QList<Token>& tokens, qsizetype i) {
    if (i + 1 < tokens.size() && tokens[i + 1].type == QXmlStreamReader::EndElement) return QString();
    if (i + 2 < tokens.size() && tokens[i + 1].type == QXmlStreamReader::Characters &&
        tokens[i + 2].type == QXmlStreamReader::EndElement)
        return tokens[i + 1].text;
    return std::nullopt;
}

// xmpMM:InstanceID written as an element of the description.
void readInstanceId(const QList<Token>& tokens, qsizetype i, PacketForm& form) {
    const Token& t = tokens[i];
    const Attribute* resource = attribute(t, kRdfNamespace, "resource");
    const std::optional<QString> text = plainText(tokens, i);
    if (t.attributes.size() == (resource ? 1 : 0) && (resource || text))
        form.instanceId = resource ? resource->value : *text;
    else
        form.complexInstanceId = true;
}

void readForm(const QList<Token>& tokens, PacketForm& form) {
    RdfWalk walk;
    bool aboutSeen = false;
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        const Token& t = tokens[i];
        if (t.type == QXmlStreamReader::EndElement) walk.leave();
        if (t.type != QXmlStreamReader::StartElement) continue;
        walk.enter(t);
        if (isRdf(t, "RDF")) form.rdf = true;
        if (walk.atDescription()) {
            const Attribute* about = attribute(t, kRdfNamespace, "about");
            if (about && !aboutSeen) form.about = about->value;
            aboutSeen = aboutSeen || about;
            const Attribute* id = attribute(t, kMediaManagementNamespace, "InstanceID");
            if (id) form.instanceId = id->value;
            continue;
        }
        if (walk.atProperty() && t.namespaceUri == kMediaManagementNamespace && t.name == u"InstanceID")
            readInstanceId(tokens, i, form);
        if (const Attribute* resource = attribute(t, kRdfNamespace, "resource"))
            form.resources.insert(resourceKey(walk.path(), resource->value));
    }
}

void readNamespaces(const QList<Token>& tokens, PacketForm& form) {
    QSet<QString> all;
    for (const Token& t : tokens)
        for (const auto& [prefix, uri] : t.declarations) {
            if (!prefix.isEmpty()) form.namespaces.insert(prefix, uri);
            all.insert(uri);
        }
    for (const QString& uri : all)
        if (!slashed(uri) && !all.contains(uri + '/')) form.unslashed.insert(uri);
}

// The simple properties a compact writer put as attributes on a description
// that were resources, taken off it as elements that say so.
QList<Token> resourceElements(Token& description, const PacketForm& form, const QString& rdfPrefix) {
    QList<Token> elements;
    description.attributes.removeIf([&](const Attribute& a) {
        if (!form.resources.contains(resourceKey(withSlash(a.namespaceUri) + a.name, a.value))) return false;
        Token start;
        start.type = QXmlStreamReader::StartElement;
        start.prefix = a.prefix;
        start.name = a.name;
        start.namespaceUri = a.namespaceUri;
        start.attributes.append({rdfPrefix, "resource", kRdfNamespace, a.value});
        Token end;
        end.type = QXmlStreamReader::EndElement;
        elements << start << end;
        return true;
    });
    return elements;
}

}  // namespace

bool preparePacket(const QByteArray& text, const StandardNamespace& standard, QByteArray& prepared,
                   PacketForm& form) {
    QList<Token> tokens;
    if (!readTokens(text, tokens)) return false;
    form = PacketForm();
    readForm(tokens, form);
    prepared = bindPrefixes(tokens, standard) ? writeTokens(tokens) : text;
    readNamespaces(tokens, form);
    return true;
}

QByteArray restoreForm(const QByteArray& packet, const PacketForm& form) {
    if (form.about.isEmpty() && form.resources.isEmpty() && form.unslashed.isEmpty()) return packet;
    QList<Token> tokens;
    if (!readTokens(packet, tokens)) return {};
    RdfWalk walk;
    QString rdfPrefix = "rdf";
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        Token& t = tokens[i];
        if (t.type == QXmlStreamReader::EndElement) walk.leave();
        if (t.type != QXmlStreamReader::StartElement) continue;
        for (auto& d : t.declarations)
            if (d.second.endsWith('/') && form.unslashed.contains(d.second.chopped(1))) d.second.chop(1);
        walk.enter(t);
        if (walk.atDescription()) {
            rdfPrefix = t.prefix;
            t.attributes.removeIf([](const Attribute& a) {
                return a.namespaceUri == kRdfNamespace && a.name == u"about";
            });
            t.attributes.prepend({rdfPrefix, "about", kRdfNamespace, form.about});
            const QList<Token> elements = resourceElements(t, form, rdfPrefix);
            for (qsizetype k = 0; k < elements.size(); ++k) tokens.insert(i + 1 + k, elements[k]);
            continue;
        }
        const std::optional<QString> text = plainText(tokens, i);
        if (!text || !form.resources.contains(resourceKey(walk.path(), *text))) continue;
        t.attributes.append({rdfPrefix, "resource", kRdfNamespace, *text});
        if (tokens[i + 1].type == QXmlStreamReader::Characters) tokens.removeAt(i + 1);
    }
    return writeTokens(tokens);
}

QByteArray emptyPacket(const QString& about) {
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(1);
    xml.writeStartElement("x:xmpmeta");
    xml.writeAttribute("xmlns:x", "adobe:ns:meta/");
    xml.writeStartElement("rdf:RDF");
    xml.writeAttribute("xmlns:rdf", kRdfNamespace);
    xml.writeEmptyElement("rdf:Description");
    xml.writeAttribute("rdf:about", about);
    xml.writeEndElement();
    xml.writeEndElement();
    return out.trimmed() + '\n';
}

}  // namespace keepframe
